#include "shared/ErrorHandling.h"

#include <memory>
#include <new>
#include <stdexcept>

#include "host/Application.h"
#include "host/Failure.h"

namespace kv {

namespace {
const char* const CRLF = "\r\n";
bool g_chain = false;                                  // the library's chain flag
std::unique_ptr<korvane::host::ErrorReportViewer> g_viewer;   // created at the first report
}  // namespace

bool ErrorChainFlag() { return g_chain; }
void ResetErrorChain() { g_chain = false; }

std::string ChainedDescription(const std::string& reported) {
    const std::string mark = std::string("Description") + CRLF + "\t";
    size_t at = reported.rfind(mark);
    if (at == std::string::npos || reported.find(std::string("Error Number ") + CRLF) == std::string::npos)
        return reported;
    std::string d = reported.substr(at + mark.size());
    const std::string end = std::string(CRLF) + CRLF;
    if (d.size() >= end.size() && d.compare(d.size() - end.size(), end.size(), end) == 0) d.resize(d.size() - end.size());
    return d;
}

std::string FormatErrorLine(int32_t line) {
    if (line == 0) return {};
    return "Line : " + std::to_string(line);
}

void ShowErrorReport(const std::string& procedureText, const std::string& description) {
    std::string report = std::string("Record Call Stack Sequence - Bottom line is error line.") + CRLF + CRLF + "\t" +
                         procedureText + CRLF + description;
    if (!g_viewer) g_viewer = std::make_unique<korvane::host::ErrorReportViewer>();
    g_viewer->setReportText(report);
    g_viewer->show(true);
}

void ReportProcedureError(bool topLevel, const std::string& procedureText, int32_t number,
                          const std::string& source, const std::string& description) {
    std::string desc = description;
    if (!g_chain) {
        desc = std::string(CRLF) + "Error Number " + CRLF + "\t" + std::to_string(number) + CRLF + "Description" +
               CRLF + "\t" + description + CRLF + CRLF;
    }
    if (!topLevel) {
        g_chain = true;
        throw korvane::host::Failure(number, source, "\t" + procedureText + CRLF + desc);
    }
    g_chain = false;
    ShowErrorReport(procedureText, desc);
}

FailureInfo failureOf(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const korvane::host::Failure& f) {
        return {f.number(), f.source(), f.description()};
    } catch (const std::bad_alloc&) {
        return {7, "Korvane", "Out of memory"};
    } catch (const std::out_of_range& x) {
        return {9, "Korvane", std::string("Subscript out of range: ") + x.what()};
    } catch (const std::overflow_error& x) {
        return {6, "Korvane", std::string("Overflow: ") + x.what()};
    } catch (const std::exception& x) {
        return {5, "Korvane", x.what()};
    } catch (...) {
        return {51, "Korvane", "Internal error"};
    }
}

std::string Procedure::text() const { return std::string(name_) + " " + module_ + " " + FormatErrorLine(line); }

void Procedure::handle(std::exception_ptr e) {
    FailureInfo f = failureOf(e);
    ReportProcedureError(topLevel_, text(), f.number, f.source, f.description);
}

}  // namespace kv
