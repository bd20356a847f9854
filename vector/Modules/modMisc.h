#pragma once
// Layer, field and cursor utilities of the vector library.
namespace korvane::host { class Application; }

namespace kv {
// True when the layer selected in the table of contents is a feature layer.
bool IsLayerSelected(korvane::host::Application* app);
}  // namespace kv
