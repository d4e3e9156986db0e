#include "guide/Guide.h"

#include "catalogue/CatalogueClasses.h"
#include "catalogue/CatalogueWalk.h"
#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "platform/Logging.h"

QString ClassOfListing(const QString& dataFolder, const QString& listingPath) {
    if (listingPath.startsWith(dataFolder)) {
        const QStringView rest = QStringView(listingPath).mid(dataFolder.size());
        const qsizetype slash = rest.indexOf(u'/');
        if (slash > 0) {
            const QStringView folder = rest.left(slash);
            for (const char16_t* className : kClassFolderNames)
                if (folder == QStringView(className))
                    return folder.toString();
        }
    }
    return QString::fromUtf16(kAllChannelsClass);
}

Guide LoadGuide(const QString& dataFolder, const QDate& today) {
    CatalogueCollector collector;
    try {
        WalkCatalogue(dataFolder, collector);
    } catch (const std::exception&) {
        // What was found before the failure still shows.
        qCWarning(lcCatalogue).noquote()
            << "guide: walk of the data folder stopped:" << CurrentExceptionMessage();
    }
    const CatalogueEntries& entries = collector.Entries();
    const QString folder = dataFolder.endsWith(u'/') ? dataFolder : dataFolder + u'/';
    Guide guide;
    guide.channels.reserve(entries.listingPaths.size());
    ListingTimes times;
    for (qsizetype i = 0; i < entries.listingPaths.size(); ++i) {
        const QString& path = entries.listingPaths[i];
        try {
            guide.channels.append({entries.displayNames[i], path, ClassOfListing(folder, path),
                                   ParseScheduleText(LoadListingText(path), today, times)});
        } catch (const Exception& error) {
            // An unreadable listing has nothing on air.
            qCWarning(lcCatalogue).noquote() << "guide: listing left out:" << error.Message();
        }
    }
    return guide;
}

QList<OnAirRow> OnAirRows(const Guide& guide, const QDateTime& now) {
    QList<OnAirRow> rows;
    for (qsizetype i = 0; i < guide.channels.size(); ++i) {
        const OnAir onAir = FindOnAir(guide.channels[i].schedule, now);
        if (onAir.current != nullptr)
            rows.append({i, onAir.current, onAir.next});
    }
    return rows;
}

const Programme* ProgrammeOnAirToday(const Schedule& schedule, const QDateTime& now) {
    const QDate today = ListingTimeOf(now).date();
    for (const ScheduleDay& day : schedule.days)
        if (day.date == today && !day.heading.isEmpty())
            return FindOnAir(schedule, now).current;
    return nullptr;
}

int MillisecondsToNextMinute(const QDateTime& now) {
    const QTime time = now.time();
    return 60000 - (time.second() * 1000 + time.msec());
}
