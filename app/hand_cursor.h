// The hand pointer shipped beside the program as HAND-M.CUR: a 32 x 32 hand with the index
// finger up, black outline, white inside, drawn here from a few shapes and written as a pointer
// (.cur) file. The build runs app/asset/make_hand_cursor to write the file.
#pragma once

#include <string>

namespace app {

inline constexpr int kHandSize = 32;
// The hot spot: the tip of the index finger.
inline constexpr int kHandHotSpotX = 7;
inline constexpr int kHandHotSpotY = 0;

// One character a pixel, row by row from the top: ' ' clear, 'X' black, '.' white.
std::string HandPicture();

// The complete .cur file.
std::string HandCursorFile();

}  // namespace app
