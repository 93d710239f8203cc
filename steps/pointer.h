// The pointer setting of a window: 0 the default arrow, 11 the hourglass of long work, 99 the
// window's own pointer image (the arrow while it has none). The procedures set it through their
// workspace; app::WindowPointer shows it.
#pragma once

namespace steps::pointer {
constexpr int kDefault = 0;
constexpr int kBusy = 11;
constexpr int kCustom = 99;
}  // namespace steps::pointer
