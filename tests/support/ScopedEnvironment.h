#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// Sets (or, with no value, removes) an environment variable for the life of the object and puts
// the old value back.
class ScopedVariable final {
public:
    ScopedVariable(const char* name, const std::optional<QByteArray>& value) : name_(name) {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            qputenv(name_, *old_);
        else
            qunsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> old_;
};
