#include "sources/SourceMerge.h"

#include <QHash>
#include <QMap>

QList<MergedChannel> MergeSourceChannels(const QList<QList<SourceChannel>>& sources) {
    QList<MergedChannel> merged;
    QHash<QString, qsizetype> indexOfKey;
    // Per merged channel, its days so far by date; a date once taken stays with its source.
    QList<QMap<QDate, MergedDay>> daysOf;
    for (qsizetype source = 0; source < sources.size(); ++source) {
        for (const SourceChannel& channel : sources[source]) {
            auto found = indexOfKey.constFind(channel.key);
            qsizetype index = 0;
            if (found == indexOfKey.constEnd()) {
                index = merged.size();
                indexOfKey.insert(channel.key, index);
                merged.append(
                    MergedChannel{channel.key, channel.title, {}, channel.ids, static_cast<int>(source)});
                daysOf.append(QMap<QDate, MergedDay>());
            } else {
                index = *found;
            }
            // A date that a higher source gave stays with it; this source's own days take all their
            // programmes, also from a second entry of the channel.
            QMap<QDate, MergedDay>& days = daysOf[index];
            for (const FeedProgramme& programme : channel.programmes) {
                auto day = days.find(programme.date);
                if (day == days.end())
                    day = days.insert(programme.date, {programme.date, static_cast<int>(source), {}});
                else if (day->source != source)
                    continue;
                day->programmes.append(programme);
            }
        }
    }
    for (qsizetype i = 0; i < merged.size(); ++i)
        merged[i].days = daysOf[i].values();
    return merged;
}

QList<FeedProgramme> ProgrammesOf(const MergedChannel& channel) {
    QList<FeedProgramme> programmes;
    for (const MergedDay& day : channel.days)
        programmes.append(day.programmes);
    return programmes;
}
