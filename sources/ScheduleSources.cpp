#include "sources/ScheduleSources.h"

#include "update/HttpAddress.h"

#include <algorithm>
#include <optional>

namespace {

const QString kSourcesArray = QStringLiteral("sources");
const QString kUpdateGroup = QStringLiteral("update");
const QString kIdKey = QStringLiteral("id");
const QString kNameKey = QStringLiteral("name");
const QString kAddressKey = QStringLiteral("address");
const QString kEnabledKey = QStringLiteral("enabled");
const QString kOffsetKey = QStringLiteral("offset");
const QString kLastUpdateKey = QStringLiteral("lastUpdate");
const QString kResultKey = QStringLiteral("result");
const QString kAutomaticKey = QStringLiteral("automatic");
const QString kDailyTimeKey = QStringLiteral("dailyTime");
const QString kLastStartKey = QStringLiteral("lastStart");
const QString kLastSuccessKey = QStringLiteral("lastSuccess");
const QString kLastFailureKey = QStringLiteral("lastFailure");
const QString kFailuresKey = QStringLiteral("failuresInRow");
const QString kTimeFormat = QStringLiteral("HH:mm");
const QString kIdSuffix = QStringLiteral(".source");

ScheduleSource BuiltInSource() {
    ScheduleSource source;
    source.id = QString::fromUtf16(kBuiltInSourceId);
    source.name = QString::fromUtf16(kBuiltInSourceName);
    return source;
}

// Stored in UTC, so a change of the machine's zone or of daylight-saving time does not move them.
QString StoredTime(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QDateTime LoadedTime(const QVariant& value) {
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
    return time.isValid() ? time.toLocalTime() : QDateTime();
}

std::optional<bool> LoadedBool(const QVariant& value) {
    const QString text = value.toString();
    if (text == u"true")
        return true;
    if (text == u"false")
        return false;
    return std::nullopt;
}

std::optional<int> LoadedInt(const QVariant& value, int lowest, int highest) {
    bool ok = false;
    const int number = value.toString().toInt(&ok);
    if (!ok || number < lowest || number > highest)
        return std::nullopt;
    return number;
}

// The file a source's downloads are kept in: its host in lower case, every character that is not
// a plain one made "_", ending in ".source" (never "txt", so no walk lists it as a channel).
QString FileIdFor(const QString& host) {
    QString id;
    for (const QChar c : host.toLower()) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
        id += plain ? c : QChar(u'_');
    }
    while (id.startsWith(u'.'))
        id.remove(0, 1);
    return (id.isEmpty() ? QStringLiteral("source") : id);
}

bool IsSourceFileId(const QString& id) {
    if (!id.endsWith(kIdSuffix) || id.size() == kIdSuffix.size() || id.startsWith(u'.'))
        return false;
    return std::all_of(id.begin(), id.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'_';
    });
}

} // namespace

QString SourceAddressProblem(const QString& address) {
    if (address.isEmpty())
        return QStringLiteral("请先在“节目单地址”中填写地址");
    if (std::any_of(address.begin(), address.end(),
                    [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; }))
        return QStringLiteral("地址中不能有空格或控制字符");
    const qsizetype separator = address.indexOf(u"://");
    const QString scheme = separator > 0 ? address.left(separator).toLower() : QString();
    if (scheme != u"http" && scheme != u"https")
        return QStringLiteral("只能添加以 http:// 或 https:// 开头的地址");
    try {
        if (ResolveAddress(address, std::nullopt).Host.isEmpty())
            return QStringLiteral("地址中没有主机名");
    } catch (...) {
        return QStringLiteral("地址中没有主机名，或端口不是 1 到 65535 之间的数");
    }
    return {};
}

SourceSettings::SourceSettings(SettingsFile& file, QObject* parent) : QObject(parent), file_(file) {
    Load();
}

void SourceSettings::Load() {
    QList<ScheduleSource> sources;
    AutomaticUpdate automatic;
    UpdateHistory history;
    QString problem;
    file_.Read([&](QSettings& settings) {
        const int size = settings.beginReadArray(kSourcesArray);
        for (int i = 0; i < size && problem.isEmpty(); ++i) {
            settings.setArrayIndex(i);
            ScheduleSource source;
            source.id = settings.value(kIdKey).toString();
            source.name = settings.value(kNameKey).toString().trimmed();
            source.address = settings.value(kAddressKey).toString();
            const std::optional<bool> enabled =
                LoadedBool(settings.value(kEnabledKey, QStringLiteral("true")));
            const std::optional<int> offset =
                LoadedInt(settings.value(kOffsetKey, 0), kMinSourceOffset, kMaxSourceOffset);
            source.lastUpdate = LoadedTime(settings.value(kLastUpdateKey));
            source.result = settings.value(kResultKey).toString();
            const bool taken = std::any_of(sources.begin(), sources.end(), [&](const ScheduleSource& other) {
                return other.id == source.id;
            });
            if (taken)
                problem = QStringLiteral("source %1 appears twice").arg(source.id);
            else if (!source.BuiltIn() && !IsSourceFileId(source.id))
                problem = QStringLiteral("source %1 has no usable id").arg(i + 1);
            else if (!source.BuiltIn() && !SourceAddressProblem(source.address).isEmpty())
                problem = QStringLiteral("source %1 has no usable address").arg(source.id);
            else if (!enabled || !offset)
                problem =
                    QStringLiteral("source %1 has an enabled flag or offset out of range").arg(source.id);
            if (!problem.isEmpty())
                break;
            source.enabled = *enabled;
            source.offsetMinutes = *offset;
            if (source.BuiltIn())
                source.address.clear();
            if (source.name.isEmpty())
                source.name = source.BuiltIn() ? QString::fromUtf16(kBuiltInSourceName) : source.id;
            sources.append(source);
        }
        settings.endArray();
        settings.beginGroup(kUpdateGroup);
        const std::optional<bool> enabled =
            LoadedBool(settings.value(kAutomaticKey, QStringLiteral("false")));
        const QTime daily =
            QTime::fromString(settings.value(kDailyTimeKey, QStringLiteral("03:00")).toString(), kTimeFormat);
        const std::optional<int> failures = LoadedInt(settings.value(kFailuresKey, 0), 0, 1000000);
        if (problem.isEmpty() && (!enabled || !daily.isValid() || !failures))
            problem = QStringLiteral("the automatic update's options are out of range");
        automatic = {enabled.value_or(false), daily};
        history.lastStart = LoadedTime(settings.value(kLastStartKey));
        history.lastSuccess = LoadedTime(settings.value(kLastSuccessKey));
        history.lastFailure = LoadedTime(settings.value(kLastFailureKey));
        history.failuresInRow = failures.value_or(0);
        settings.endGroup();
    });
    if (!problem.isEmpty()) {
        file_.SetAside(problem);
        sources.clear();
        automatic = {};
        history = {};
    }
    // A list written by hand may leave the program's package out; it is always there.
    if (std::none_of(sources.begin(), sources.end(), [](const ScheduleSource& s) { return s.BuiltIn(); }))
        sources.prepend(BuiltInSource());
    sources_ = std::move(sources);
    automatic_ = automatic;
    history_ = history;
}

void SourceSettings::Write(QSettings& settings) const {
    settings.remove(kSourcesArray);
    settings.beginWriteArray(kSourcesArray, static_cast<int>(sources_.size()));
    for (qsizetype i = 0; i < sources_.size(); ++i) {
        const ScheduleSource& source = sources_[i];
        settings.setArrayIndex(static_cast<int>(i));
        settings.setValue(kIdKey, source.id);
        settings.setValue(kNameKey, source.name);
        if (!source.BuiltIn())
            settings.setValue(kAddressKey, source.address);
        settings.setValue(kEnabledKey, source.enabled ? QStringLiteral("true") : QStringLiteral("false"));
        settings.setValue(kOffsetKey, source.offsetMinutes);
        if (source.lastUpdate.isValid())
            settings.setValue(kLastUpdateKey, StoredTime(source.lastUpdate));
        if (!source.result.isEmpty())
            settings.setValue(kResultKey, source.result);
    }
    settings.endArray();
    settings.beginGroup(kUpdateGroup);
    settings.setValue(kAutomaticKey, automatic_.enabled ? QStringLiteral("true") : QStringLiteral("false"));
    settings.setValue(kDailyTimeKey, automatic_.dailyTime.toString(kTimeFormat));
    const std::pair<const QString&, const QDateTime&> times[] = {{kLastStartKey, history_.lastStart},
                                                                 {kLastSuccessKey, history_.lastSuccess},
                                                                 {kLastFailureKey, history_.lastFailure}};
    for (const auto& [key, time] : times) {
        if (time.isValid())
            settings.setValue(key, StoredTime(time));
        else
            settings.remove(key);
    }
    settings.setValue(kFailuresKey, history_.failuresInRow);
    settings.endGroup();
}

void SourceSettings::Save() {
    file_.Change([this](QSettings& settings) { Write(settings); });
    emit Changed();
}

void SourceSettings::SaveIfKept() {
    if (file_.Exists())
        file_.Change([this](QSettings& settings) { Write(settings); });
    emit Changed();
}

bool SourceSettings::OnlyBuiltInEnabled() const {
    return std::all_of(sources_.begin(), sources_.end(),
                       [](const ScheduleSource& source) { return source.BuiltIn() == source.enabled; });
}

QList<ScheduleSource> SourceSettings::EnabledSources() const {
    QList<ScheduleSource> enabled;
    std::copy_if(sources_.begin(), sources_.end(), std::back_inserter(enabled),
                 [](const ScheduleSource& source) { return source.enabled; });
    return enabled;
}

qsizetype SourceSettings::IndexOf(const QString& id) const {
    for (qsizetype i = 0; i < sources_.size(); ++i)
        if (sources_[i].id == id)
            return i;
    return -1;
}

QString SourceSettings::Add(const QString& address) {
    const QString trimmed = address.trimmed();
    if (QString problem = SourceAddressProblem(trimmed); !problem.isEmpty())
        return problem;
    if (std::any_of(sources_.begin(), sources_.end(),
                    [&](const ScheduleSource& source) { return source.address == trimmed; }))
        return QStringLiteral("这个地址已在列表中");
    const QString host = ResolveAddress(trimmed, std::nullopt).Host.toLower();
    ScheduleSource source;
    source.address = trimmed;
    const QString idStem = FileIdFor(host);
    source.id = idStem + kIdSuffix;
    for (int number = 2; IndexOf(source.id) >= 0; ++number)
        source.id = idStem + u'-' + QString::number(number) + kIdSuffix;
    source.name = host;
    const auto nameTaken = [this](const QString& name) {
        return std::any_of(sources_.begin(), sources_.end(),
                           [&](const ScheduleSource& other) { return other.name == name; });
    };
    for (int number = 2; nameTaken(source.name); ++number)
        source.name = host + QStringLiteral(" (%1)").arg(number);
    sources_.append(source);
    Save();
    return {};
}

bool SourceSettings::Remove(qsizetype row) {
    if (row < 0 || row >= sources_.size() || sources_[row].BuiltIn())
        return false;
    sources_.removeAt(row);
    Save();
    return true;
}

bool SourceSettings::Move(qsizetype row, int by) {
    const qsizetype to = row + by;
    if (row < 0 || row >= sources_.size() || to < 0 || to >= sources_.size() || by == 0)
        return false;
    sources_.move(row, to);
    Save();
    return true;
}

void SourceSettings::SetEnabled(qsizetype row, bool enabled) {
    if (row < 0 || row >= sources_.size() || sources_[row].enabled == enabled)
        return;
    sources_[row].enabled = enabled;
    Save();
}

void SourceSettings::SetName(qsizetype row, const QString& name) {
    const QString trimmed = name.trimmed();
    if (row < 0 || row >= sources_.size() || trimmed.isEmpty() || sources_[row].name == trimmed) {
        emit Changed(); // the page shows the old name again
        return;
    }
    sources_[row].name = trimmed;
    Save();
}

void SourceSettings::SetOffset(qsizetype row, int minutes) {
    if (row < 0 || row >= sources_.size())
        return;
    sources_[row].offsetMinutes = std::clamp(minutes, kMinSourceOffset, kMaxSourceOffset);
    Save();
}

void SourceSettings::SetAutomatic(const AutomaticUpdate& automatic) {
    automatic_ = automatic;
    Save();
}

void SourceSettings::RecordResult(const QString& id, const QDateTime& when, const QString& result) {
    const qsizetype row = IndexOf(id);
    if (row < 0)
        return; // removed while it was updated
    sources_[row].lastUpdate = when;
    sources_[row].result = result;
    SaveIfKept();
}

void SourceSettings::RecordStart(const QDateTime& when) {
    history_.lastStart = when;
    SaveIfKept();
}

void SourceSettings::RecordEnd(const QDateTime& when, bool anySucceeded, bool anyFailed) {
    if (anySucceeded)
        history_.lastSuccess = when;
    if (anyFailed) {
        history_.lastFailure = when;
        ++history_.failuresInRow;
    } else {
        history_.failuresInRow = 0;
    }
    SaveIfKept();
}
