#pragma once

#include <QString>

#include <exception>
#include <string>

// The program's one error class: it carries only a message, in the program's own words.
class Exception : public std::exception {
public:
    explicit Exception(QString message) : message_(std::move(message)), utf8_(message_.toStdString()) {}

    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    std::string utf8_;
};
