// The exception family of the foundation. what() is exactly the message;
// the source file and line travel beside it.
#pragma once

#include <exception>
#include <new>
#include <string>

namespace Tessary {

class TSException : public std::exception {
public:
    TSException(const std::string& message, const std::string& file, int line)
        : message_(message), file_(file), line_(line) {}
    TSException(const TSException&) = default;
    TSException& operator=(const TSException&) = default;
    ~TSException() override;

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& File() const noexcept { return file_; }
    int Line() const noexcept { return line_; }

private:
    std::string message_;
    std::string file_;
    int line_;
};

class TSLogicError : public TSException {
public:
    using TSException::TSException;
};

class TSInvalidArgument : public TSLogicError {
public:
    using TSLogicError::TSLogicError;
};

class TSUnimplementedError : public TSLogicError {
public:
    using TSLogicError::TSLogicError;
};

class TSDomainError : public TSLogicError {
public:
    using TSLogicError::TSLogicError;
};

class TSRuntimeError : public TSException {
public:
    using TSException::TSException;
};

class TSRuntimeCodeError : public TSRuntimeError {
public:
    TSRuntimeCodeError(const std::string& message, const std::string& file, int line, int code)
        : TSRuntimeError(message, file, line), code_(code) {}
    int Code() const noexcept { return code_; }

private:
    int code_;
};

class ParserException : public TSException {
public:
    ParserException(const std::string& message, const std::string& file, int line, int position)
        : TSException(message, file, line), position_(position) {}
    int Position() const noexcept { return position_; }

private:
    int position_;
};

// Two std::exception subobjects make std::exception an ambiguous base, so
// `catch (const std::exception&)` does not see this class: every border
// catches TSException first. Through the bad_alloc part, what() gives the
// foundation's message too.
class TSBadAlloc : public TSException, public std::bad_alloc {
public:
    using TSException::TSException;
    const char* what() const noexcept override { return TSException::what(); }
};

// Runs a border's body and turns any exception into the border's failure
// value. TSException is caught before std::exception (see TSBadAlloc).
template <class Result, class Body, class OnError>
Result CatchAtBorder(Body&& body, OnError&& onError) noexcept {
    try {
        return body();
    } catch (const TSException& e) {
        return onError(e.what());
    } catch (const std::exception& e) {
        return onError(e.what());
    } catch (...) {
        return onError("unknown exception");
    }
}

}  // namespace Tessary

// Throws an exception of the foundation family with the current file and line.
#define TS_THROW(ExceptionClass, message) throw ExceptionClass((message), __FILE__, __LINE__)
// For the classes that carry an extra int (code or position).
#define TS_THROW_CODE(ExceptionClass, message, code) throw ExceptionClass((message), __FILE__, __LINE__, (code))
