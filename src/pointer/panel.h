// The handheld's panel: 480 columns by 640 rows of 16-bit pixels, held
// sideways, so the pointer's mouse_x runs along the rows and mouse_y along
// the columns. The calibration, the cursor and the mouse read its size; so
// do the tools that draw what the daemon drew.
#pragma once

inline constexpr int screen_columns = 480;
inline constexpr int screen_rows = 640;
