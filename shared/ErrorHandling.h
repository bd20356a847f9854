#pragma once
// The one error report of a library. Every procedure installs a handler
// (KV_PROCEDURE ... .run) that hands its failures to ReportProcedureError:
// an inner procedure passes the failure on to its caller with its own line
// put in front of the description; a top-level procedure shows the whole
// call stack once and returns.
//
//   KV_MODULE("Modules/modMisc");
//   bool AddField(...) {
//       bool result = false;
//       KV_PROCEDURE("AddField", kv::TopLevel).run([&] {
//           KV_LINE; ...
//           result = true;
//       });
//       return result;
//   }
#include <cstdint>
#include <exception>
#include <string>

namespace kv {

inline constexpr bool TopLevel = true;
inline constexpr bool Inner = false;

// Empty for line 0, otherwise "Line : " and the number.
std::string FormatErrorLine(int32_t line);
// Builds the report text and shows it in the viewer.
void ShowErrorReport(const std::string& procedureText, const std::string& description);
// Inner (topLevel false): raises a new failure to the caller. Top level:
// shows the report and returns.
void ReportProcedureError(bool topLevel, const std::string& procedureText, int32_t number,
                          const std::string& source, const std::string& description);

// The library's chain flag (true once an inner report has added the error block).
bool ErrorChainFlag();
// A handler that ends a chain with a message of its own clears the flag, so
// that a later report of the same run has its error-number block again.
void ResetErrorChain();
// The failure's own description inside the text an inner report passed on
// (the procedure lines and the error-number block around it); the text
// itself when it is no such report.
std::string ChainedDescription(const std::string& reported);

// A failure read from any exception: number, source and description.
struct FailureInfo {
    int32_t number;
    std::string source;
    std::string description;
};
FailureInfo failureOf(std::exception_ptr e);

// One procedure's handler.
class Procedure {
public:
    Procedure(const char* name, const char* modulePath, bool topLevel)
        : name_(name), module_(modulePath), topLevel_(topLevel) {}

    // The last numbered line reached (0: none).
    int32_t line = 0;

    // Runs the body; a failure is reported. An inner procedure's failure is
    // raised again to the caller after the report; a top-level one returns.
    template <class F>
    void run(F&& body) {
        try {
            body();
        } catch (...) {
            handle(std::current_exception());
        }
    }

    // The procedure text: name, module path and line text.
    std::string text() const;
    void handle(std::exception_ptr e);

private:
    const char* name_;
    const char* module_;
    bool topLevel_;
};

}  // namespace kv

#define KV_MODULE(path) [[maybe_unused]] static constexpr const char* kvModulePath_ = path
#define KV_PROCEDURE(name, top) ::kv::Procedure kvProc_(name, kvModulePath_, top); kvProc_
#define KV_LINE (kvProc_.line = __LINE__)
