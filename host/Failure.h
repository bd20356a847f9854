#pragma once
// A failure as the host and the libraries raise it: a signed number, the
// source that raised it, and a description. Host calls that fail throw it;
// every procedure's handler catches it (see shared/ErrorHandling.h).
#include <cstdint>
#include <exception>
#include <string>

namespace korvane::host {

class Failure : public std::exception {
public:
    Failure(int32_t number, std::string source, std::string description)
        : number_(number), source_(std::move(source)), description_(std::move(description)) {}

    int32_t number() const noexcept { return number_; }
    const std::string& source() const noexcept { return source_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    int32_t number_;
    std::string source_;
    std::string description_;
};

// Numbers the host uses for its own failures. Negative numbers are host
// status codes; small positive ones are the runtime's.
namespace err {
inline constexpr int32_t InvalidCall = 5;            // invalid procedure call or argument
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t SubscriptOutOfRange = 9;
inline constexpr int32_t DivisionByZero = 11;
inline constexpr int32_t TypeMismatch = 13;
inline constexpr int32_t FileNotFound = 53;
inline constexpr int32_t PermissionDenied = 70;
inline constexpr int32_t PathNotFound = 76;
inline constexpr int32_t ObjectRequired = 424;
inline constexpr int32_t ObjectNotSet = 91;
inline constexpr int32_t HostGeneric = static_cast<int32_t>(0x80004005);   // unspecified failure
inline constexpr int32_t HostFileNotFound = static_cast<int32_t>(0x80070002);
inline constexpr int32_t HostInvalidArg = static_cast<int32_t>(0x80070057);
inline constexpr int32_t HostAccessDenied = static_cast<int32_t>(0x80070005);
inline constexpr int32_t ApplicationBase = static_cast<int32_t>(0x80040000);  // + 512 + n: application-defined
}  // namespace err

[[noreturn]] inline void fail(int32_t number, std::string source, std::string description) {
    throw Failure(number, std::move(source), std::move(description));
}

// The runtime's failure for an object that is not there (number 91).
[[noreturn]] inline void failObjectNotSet(std::string source = "Korvane") {
    fail(err::ObjectNotSet, std::move(source), "Object variable or With block variable not set");
}

}  // namespace korvane::host
