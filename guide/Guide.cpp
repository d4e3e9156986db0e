#include "guide/Guide.h"

#include "catalogue/CatalogueClasses.h"
#include "catalogue/CatalogueWalk.h"
#include "catalogue/FeedListingIndex.h"
#include "catalogue/FileNames.h"
#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "platform/Logging.h"

#include <algorithm>

#include <sys/stat.h>

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

namespace {

// Ends the walk when a stop is requested.
class StoppableCollector final : public CatalogueSink {
public:
    struct Stopped {};

    explicit StoppableCollector(const std::stop_token& stop) : stop_(stop) {}
    void FolderFound(const QString& folderPathWithSlash) override {
        StopIfAsked();
        collector_.FolderFound(folderPathWithSlash);
    }
    void ListingFound(const QString& filePath, const QString& displayName) override {
        StopIfAsked();
        collector_.ListingFound(filePath, displayName);
    }
    const CatalogueEntries& Entries() const { return collector_.Entries(); }

private:
    void StopIfAsked() const {
        if (stop_.stop_requested())
            throw Stopped{};
    }

    const std::stop_token& stop_;
    CatalogueCollector collector_;
};

// The size of the file at `path`; -1 when it cannot be told (reading it then says why).
qint64 FileSize(const QString& path) {
    struct stat status {};
    return ::stat(EncodeFileName(path).constData(), &status) == 0 ? static_cast<qint64>(status.st_size) : -1;
}

} // namespace

Guide LoadGuide(const QString& dataFolder, const QDate& today, const GuideLimits& limits,
                const std::stop_token& stop) {
    StoppableCollector collector(stop);
    const FeedListingNames feedNames = FeedListingNames::Load(dataFolder);
    try {
        WalkCatalogue(dataFolder, collector, WalkScope::FollowLinks, &feedNames);
    } catch (const StoppableCollector::Stopped&) {
        return {};
    } catch (const std::exception&) {
        // What was found before the failure still shows.
        qCWarning(lcCatalogue).noquote()
            << "guide: walk of the data folder stopped:" << CurrentExceptionMessage();
    }
    const CatalogueEntries& entries = collector.Entries();
    const QString folder = dataFolder.endsWith(u'/') ? dataFolder : dataFolder + u'/';
    Guide guide;
    guide.channels.reserve(entries.listingPaths.size());
    qint64 total = 0;
    for (qsizetype i = 0; i < entries.listingPaths.size() && !stop.stop_requested(); ++i) {
        const QString& path = entries.listingPaths[i];
        const qint64 size = FileSize(path);
        if (size > limits.listingBytes) {
            ++guide.tooLarge;
            qCWarning(lcCatalogue).noquote()
                << "guide: listing left out, larger than" << limits.listingBytes << "bytes:" << path;
            continue;
        }
        if (total + size > limits.totalBytes) {
            guide.beyondTotal = entries.listingPaths.size() - i;
            qCWarning(lcCatalogue).noquote() << "guide:" << guide.beyondTotal << "listings left out beyond"
                                             << limits.totalBytes << "bytes in all, from" << path;
            break;
        }
        try {
            // Bounded again: the file may have grown since its size was taken.
            guide.channels.append({entries.displayNames[i], path, ClassOfListing(folder, path),
                                   ParseScheduleText(LoadListingText(path, limits.listingBytes), today)});
            total += std::max<qint64>(size, 0);
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
