#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <thread>

// The keys a typed run of ASCII letters is matched against: both lower-case ASCII letters only.
struct PinyinKeys {
    // The first letter of each syllable and of each Latin word: "xwlb" for "新闻联播".
    QString initials;
    // Every syllable and Latin word run together, tones dropped: "xinwenlianbo".
    QString full;
};

// ICU's "Han-Latin" transliterator, tones dropped. A character with several readings gets the one
// ICU picks (it knows a few words, such as "重庆", but reads "朝闻天下" as "chao wen tian xia").
// Not safe to share between threads.
class PinyinTransliterator final {
public:
    PinyinTransliterator();
    ~PinyinTransliterator();
    PinyinTransliterator(const PinyinTransliterator&) = delete;
    PinyinTransliterator& operator=(const PinyinTransliterator&) = delete;

    PinyinKeys KeysOf(const QString& text);

private:
    struct Icu;
    std::unique_ptr<Icu> icu_;
};

// Has ICU compile the rules of the transliterator above on a thread of its own. ICU keeps compiled
// rules for the whole process, so a transliterator made afterwards is ready at once instead of after
// about 100 ms; one made meanwhile waits for this compilation inside ICU. The destructor waits for
// the thread.
class PinyinRulesCompilation final {
public:
    PinyinRulesCompilation();
    ~PinyinRulesCompilation();
    PinyinRulesCompilation(const PinyinRulesCompilation&) = delete;
    PinyinRulesCompilation& operator=(const PinyinRulesCompilation&) = delete;

    // Waits until the rules are compiled (or ICU has failed to, which a transliterator made later
    // reports).
    void Wait();

private:
    std::thread thread_;
};

// Keys computed once per distinct text and kept. Not safe to share between threads; the
// transliterator is made by the first text (making it takes ICU a while), on that text's thread.
class PinyinCache final {
public:
    const PinyinKeys& KeysOf(const QString& text);
    qsizetype size() const { return keys_.size(); }

private:
    std::unique_ptr<PinyinTransliterator> transliterator_;
    QHash<QString, PinyinKeys> keys_;
};
