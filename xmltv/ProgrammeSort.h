#pragma once

#include "platform/FileDescriptor.h"
#include "xmltv/FeedReader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QTime>

#include <functional>
#include <memory>
#include <vector>

// The programmes of a feed in listing order: by channel, then by start, those of the same start in
// feed order. They are kept in memory up to `memoryBytes`; beyond that, each full batch goes sorted
// to a temporary file in `spillFolder` (the data folder: a temporary folder may live in memory) and
// the batches are merged at the end, so memory stays bounded whatever the size of the feed.
class ProgrammeSort final : public FeedProgrammeSink {
public:
    static constexpr qint64 kDefaultMemoryBytes = qint64(24) << 20;

    ProgrammeSort(QString spillFolder, qint64 memoryBytes = kDefaultMemoryBytes);
    ~ProgrammeSort();
    ProgrammeSort(const ProgrammeSort&) = delete;
    ProgrammeSort& operator=(const ProgrammeSort&) = delete;

    void Programme(qsizetype channel, const FeedProgramme& programme) override;

    struct Sorted {
        QDate date;
        QTime time;
        QByteArrayView titleUtf8; // valid during the call of `take`
    };
    // Once the feed is read: hands the programmes of `channel` to `take`, in order. Channels are
    // taken in increasing order; a channel passed over loses its programmes.
    void TakeChannel(qsizetype channel, const std::function<void(const Sorted&)>& take);

    // How many batches went to the temporary file.
    qsizetype SpilledBatches() const;

private:
    struct Entry {
        quint32 channel;
        qint32 day; // Julian day
        qint32 msecs;
        quint32 titleOffset; // into titles_; also the feed order
        quint32 titleLength;
    };
    class Batch;
    class Merge;

    void SortEntries();
    void Spill();
    void StartMerge();

    QString spillFolder_;
    qint64 memoryBytes_;
    std::vector<Entry> entries_;
    QByteArray titles_;
    FileDescriptor spill_;
    qint64 spilled_ = 0;
    std::vector<std::pair<qint64, qint64>> batches_; // offset and size in the temporary file
    std::unique_ptr<Merge> merge_;
    size_t next_ = 0; // of entries_, when nothing was spilled
    bool finished_ = false;
};
