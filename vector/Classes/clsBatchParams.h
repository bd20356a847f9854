#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Set and run batch processes: opens the Batch Processing dialog, created
// once; always enabled, even on an empty map.
class clsBatchParams : public VectorCommand {
public:
    clsBatchParams();

protected:
    std::unique_ptr<KorvaneForm> createDialog() override;
};

}  // namespace kv
