#include "guide/Pinyin.h"

#include "platform/Exception.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

struct PinyinTransliterator::Icu {
    std::unique_ptr<icu::Transliterator> transliterator;
};

PinyinTransliterator::PinyinTransliterator() : icu_(std::make_unique<Icu>()) {
    UErrorCode status = U_ZERO_ERROR;
    // Latin-ASCII drops the tone marks and turns "ü" into "u", as pinyin keyboards type it.
    icu_->transliterator.reset(
        icu::Transliterator::createInstance("Han-Latin; Latin-ASCII", UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !icu_->transliterator)
        throw Exception(QStringLiteral("ICU Han-Latin: %1").arg(QString::fromLatin1(u_errorName(status))));
}

PinyinTransliterator::~PinyinTransliterator() = default;

PinyinKeys PinyinTransliterator::KeysOf(const QString& text) {
    icu::UnicodeString latin(reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()));
    icu_->transliterator->transliterate(latin);
    // ICU separates the syllables of Han characters with blanks; anything that is not an ASCII
    // letter (digits, punctuation, blanks) ends a word.
    PinyinKeys keys;
    bool inWord = false;
    for (int32_t i = 0; i < latin.length(); ++i) {
        char16_t c = latin.charAt(i);
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
        if (c < u'a' || c > u'z') {
            inWord = false;
            continue;
        }
        if (!inWord)
            keys.initials.append(QChar(c));
        keys.full.append(QChar(c));
        inWord = true;
    }
    return keys;
}

PinyinRulesCompilation::PinyinRulesCompilation()
    : thread_([] {
          try {
              PinyinTransliterator compiled;
          } catch (...) {
              // The transliterator that needs the rules tries again and says why.
          }
      }) {}

PinyinRulesCompilation::~PinyinRulesCompilation() {
    Wait();
}

void PinyinRulesCompilation::Wait() {
    if (thread_.joinable())
        thread_.join();
}

const PinyinKeys& PinyinCache::KeysOf(const QString& text) {
    auto found = keys_.find(text);
    if (found == keys_.end()) {
        if (!transliterator_)
            transliterator_ = std::make_unique<PinyinTransliterator>();
        found = keys_.insert(text, transliterator_->KeysOf(text));
    }
    return *found;
}
