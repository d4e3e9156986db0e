#include "xmltv/ProgrammeSort.h"

#include "platform/Exception.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <queue>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A programme in a batch of the temporary file: channel, Julian day, milliseconds of the day and
// the title's length (four 32-bit numbers as the machine stores them), then the title in UTF-8.
constexpr qsizetype kRecordHead = 16;
// What each batch reads of the file at a time while they are merged.
constexpr qsizetype kBatchBuffer = qsizetype(64) << 10;
constexpr qsizetype kWriteBuffer = qsizetype(256) << 10;

[[noreturn]] void ThrowSpillError(const char* what) {
    throw Exception(QStringLiteral("Cannot %1 the programmes' temporary file: %2")
                        .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))));
}

// Gone with its descriptor: nothing is left behind, whatever way the import ends.
FileDescriptor OpenSpillFile(const QString& folder) {
    if (!QDir().mkpath(folder))
        throw Exception(QStringLiteral("Cannot make the folder \"%1\"").arg(folder));
    FileDescriptor file(::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!file.valid()) { // a file system without unnamed files
        QByteArray name = QFile::encodeName(folder + QStringLiteral("/.xmltv-sort-XXXXXX"));
        file.Reset(::mkostemp(name.data(), O_CLOEXEC));
        if (file.valid())
            ::unlink(name.constData());
    }
    if (!file.valid())
        ThrowSpillError("make");
    return file;
}

void WriteAt(int fd, QByteArrayView bytes, qint64 offset) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::pwrite(fd, bytes.data(), static_cast<size_t>(bytes.size()), offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            ThrowSpillError("write");
        bytes = bytes.sliced(written);
        offset += written;
    }
}

void AppendNumber(QByteArray& out, quint32 value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

quint32 NumberAt(const char* at) {
    quint32 value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

// One sorted batch of the temporary file, read a piece at a time.
class ProgrammeSort::Batch final {
public:
    Batch(int fd, qint64 offset, qint64 size) : fd_(fd), next_(offset), end_(offset + size) {}

    // The batch's next programme into the fields below; false at its end.
    bool Next() {
        if (!Fill(kRecordHead))
            return false;
        const char* head = buffer_.constData() + at_;
        channel = NumberAt(head);
        day = static_cast<qint32>(NumberAt(head + 4));
        msecs = static_cast<qint32>(NumberAt(head + 8));
        const auto length = static_cast<qsizetype>(NumberAt(head + 12));
        at_ += kRecordHead;
        if (!Fill(length))
            throw Exception(QStringLiteral("The programmes' temporary file ends early"));
        title = QByteArrayView(buffer_.constData() + at_, length);
        at_ += length;
        return true;
    }

    quint32 channel = 0;
    qint32 day = 0;
    qint32 msecs = 0;
    QByteArrayView title;

private:
    // Makes `count` bytes from at_ on readable; false when the batch has fewer left.
    bool Fill(qsizetype count) {
        if (buffer_.size() - at_ >= count)
            return true;
        buffer_.remove(0, at_);
        at_ = 0;
        while (buffer_.size() < count && next_ < end_) {
            const qsizetype have = buffer_.size();
            const qsizetype want = std::max(count, kBatchBuffer) - have;
            buffer_.resize(have + want);
            const ssize_t got = ::pread(fd_, buffer_.data() + have,
                                        static_cast<size_t>(std::min<qint64>(want, end_ - next_)), next_);
            if (got < 0 && errno == EINTR) {
                buffer_.resize(have);
                continue;
            }
            if (got <= 0)
                ThrowSpillError("read");
            buffer_.resize(have + got);
            next_ += got;
        }
        return buffer_.size() >= count;
    }

    int fd_;
    qint64 next_;
    qint64 end_;
    QByteArray buffer_;
    qsizetype at_ = 0;
};

// The batches merged: the heap's top is the batch with the next programme.
class ProgrammeSort::Merge final {
public:
    Merge(int fd, const std::vector<std::pair<qint64, qint64>>& batches) {
        for (const auto& [offset, size] : batches) {
            batches_.push_back(std::make_unique<Batch>(fd, offset, size));
            if (batches_.back()->Next())
                heap_.push(batches_.size() - 1);
        }
    }

    Batch* Top() const { return heap_.empty() ? nullptr : batches_[heap_.top()].get(); }
    void Advance() {
        const size_t index = heap_.top();
        heap_.pop();
        if (batches_[index]->Next())
            heap_.push(index);
    }

private:
    // Later batches hold later programmes of the feed, so the batch's index keeps the feed order.
    struct Later {
        const std::vector<std::unique_ptr<Batch>>* batches;
        bool operator()(size_t a, size_t b) const {
            const Batch& x = *(*batches)[a];
            const Batch& y = *(*batches)[b];
            if (x.channel != y.channel)
                return x.channel > y.channel;
            if (x.day != y.day)
                return x.day > y.day;
            if (x.msecs != y.msecs)
                return x.msecs > y.msecs;
            return a > b;
        }
    };

    std::vector<std::unique_ptr<Batch>> batches_;
    std::priority_queue<size_t, std::vector<size_t>, Later> heap_{Later{&batches_}};
};

ProgrammeSort::ProgrammeSort(QString spillFolder, qint64 memoryBytes)
    : spillFolder_(std::move(spillFolder)), memoryBytes_(memoryBytes) {}

ProgrammeSort::~ProgrammeSort() = default;

qsizetype ProgrammeSort::SpilledBatches() const {
    return static_cast<qsizetype>(batches_.size());
}

void ProgrammeSort::Programme(qsizetype channel, const FeedProgramme& programme) {
    const QByteArray title = programme.title.toUtf8();
    // Room is made by doubling, and asked for here, so that what is held is known exactly.
    const size_t entries = entries_.size() < entries_.capacity()
                               ? entries_.capacity()
                               : std::max<size_t>(2 * entries_.capacity(), 1024);
    const qsizetype titles =
        titles_.size() + title.size() <= titles_.capacity()
            ? titles_.capacity()
            : std::max({2 * titles_.capacity(), titles_.size() + title.size(), qsizetype(16384)});
    if (!entries_.empty() &&
        static_cast<qint64>(entries * sizeof(Entry)) + static_cast<qint64>(titles) > memoryBytes_) {
        Spill();
    } else {
        entries_.reserve(entries);
        titles_.reserve(titles);
    }
    entries_.push_back({static_cast<quint32>(channel), static_cast<qint32>(programme.date.toJulianDay()),
                        programme.time.msecsSinceStartOfDay(), static_cast<quint32>(titles_.size()),
                        static_cast<quint32>(title.size())});
    titles_ += title;
}

void ProgrammeSort::SortEntries() {
    // Titles lie in feed order, so their offsets keep that order among programmes of one start.
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        if (a.channel != b.channel)
            return a.channel < b.channel;
        if (a.day != b.day)
            return a.day < b.day;
        if (a.msecs != b.msecs)
            return a.msecs < b.msecs;
        return a.titleOffset < b.titleOffset;
    });
}

void ProgrammeSort::Spill() {
    if (!spill_.valid())
        spill_ = OpenSpillFile(spillFolder_);
    SortEntries();
    const qint64 start = spilled_;
    QByteArray out;
    out.reserve(kWriteBuffer + kRecordHead);
    for (const Entry& entry : entries_) {
        AppendNumber(out, entry.channel);
        AppendNumber(out, static_cast<quint32>(entry.day));
        AppendNumber(out, static_cast<quint32>(entry.msecs));
        AppendNumber(out, entry.titleLength);
        out.append(titles_.constData() + entry.titleOffset, entry.titleLength);
        if (out.size() >= kWriteBuffer) {
            WriteAt(spill_.get(), out, spilled_);
            spilled_ += out.size();
            out.resize(0);
        }
    }
    WriteAt(spill_.get(), out, spilled_);
    spilled_ += out.size();
    batches_.emplace_back(start, spilled_ - start);
    entries_.clear();
    titles_.resize(0);
}

void ProgrammeSort::StartMerge() {
    finished_ = true;
    if (batches_.empty()) {
        SortEntries();
        return;
    }
    if (!entries_.empty())
        Spill();
    entries_ = {};
    titles_ = {};
    merge_ = std::make_unique<Merge>(spill_.get(), batches_);
}

void ProgrammeSort::TakeChannel(qsizetype channel, const std::function<void(const Sorted&)>& take) {
    if (!finished_)
        StartMerge();
    const auto wanted = static_cast<quint32>(channel);
    if (merge_) {
        for (Batch* top = merge_->Top(); top != nullptr && top->channel <= wanted; top = merge_->Top()) {
            if (top->channel == wanted)
                take({QDate::fromJulianDay(top->day), QTime::fromMSecsSinceStartOfDay(top->msecs),
                      top->title});
            merge_->Advance();
        }
        return;
    }
    for (; next_ < entries_.size() && entries_[next_].channel <= wanted; ++next_) {
        const Entry& entry = entries_[next_];
        if (entry.channel == wanted)
            take({QDate::fromJulianDay(entry.day), QTime::fromMSecsSinceStartOfDay(entry.msecs),
                  QByteArrayView(titles_.constData() + entry.titleOffset, entry.titleLength)});
    }
}
