#include "guide/SeriesTitle.h"

#include <QRegularExpression>

namespace {

// The episode at the end of a title: a number in brackets, or "第N集".
const QRegularExpression& EpisodeAtEnd() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^(.*?)\s*(?:[(（\[［【]\s*(\d{1,4})\s*[)）\]］】]|第\s*(\d{1,4})\s*集)$)"));
    return pattern;
}

// A slot's name before the series: short, ended by a colon.
const QRegularExpression& SlotPrefix() {
    static const QRegularExpression pattern(QStringLiteral(R"(^[^:：]{1,12}[:：]\s*(.+)$)"));
    return pattern;
}

} // namespace

std::optional<SeriesEpisode> SeriesOfTitle(QStringView title) {
    const QRegularExpressionMatch match = EpisodeAtEnd().match(title.trimmed().toString());
    if (!match.hasMatch())
        return std::nullopt;
    QString series = match.captured(1).trimmed();
    const QString number = match.hasCaptured(2) ? match.captured(2) : match.captured(3);
    const QRegularExpressionMatch slot = SlotPrefix().match(series);
    if (slot.hasMatch())
        series = slot.captured(1).trimmed();
    const int episode = number.toInt();
    if (series.isEmpty() || episode <= 0)
        return std::nullopt;
    return SeriesEpisode{series, episode};
}
