// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one exception base every failure of the system derives from. A failure carries a
// message text; subsystems add their own fields (codes, positions) in derived classes.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    ~Exception() override;

    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    const char* what() const noexcept override { return message_.c_str(); }

    // The class name as a user would read it in a report ("EConvertError", ...).
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

// A text that should have been a number (or a date) and is not.
class EConvertError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EConvertError"; }
};

// A number outside the range its destination can hold. The default message is the one
// the runtime gives a failed range check.
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ERangeError"; }
};

// An index outside a list.
class EListError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EListError"; }
};

// A stream that cannot be created, opened, read or written. SystemError is the system's
// error number behind it (errno), 0 when there is none.
class EStreamError : public Exception {
public:
    using Exception::Exception;
    EStreamError(std::string message, int systemError) : Exception(std::move(message)), systemError_(systemError) {}
    const char* ClassName() const noexcept override { return "EStreamError"; }
    int SystemError() const noexcept { return systemError_; }

private:
    int systemError_ = 0;
};
