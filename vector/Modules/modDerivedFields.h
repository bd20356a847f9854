#pragma once
// What the attribute derivation tools share: the refusal of a run before
// anything is written, and the one pass that writes the rows it planned.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/Failure.h"
#include "host/data/Table.h"

namespace kv {

class RunRefused : public korvane::host::Failure {
public:
    explicit RunRefused(std::string why)
        : Failure(korvane::host::err::HostInvalidArg, "Korvane", std::move(why)) {}
};

// A run that refuses before it has written anything: the command tells the
// user why (the description) and that nothing was changed.
[[noreturn]] inline void refuseRun(std::string why) { throw RunRefused(std::move(why)); }

// Stores each feature of ids (ascending) once: set(row, i) gives it the
// values planned for ids[i] before it is written back. The rows reach the
// files together, in one edit session (joined when the caller holds one):
// a failure on the way leaves them as they were.
void WriteRowsById(korvane::host::FeatureClass& fc, const std::vector<int64_t>& ids,
                   const std::function<void(korvane::host::Row&, size_t)>& set);

}  // namespace kv
