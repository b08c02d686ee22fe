// The application icon, 16 x 16: a blue tile with a white arrow coming down into a tray, the
// picture of "a new version arrives". Kept as XPM so the binary needs no image files.
#pragma once

namespace lumen::wxui {

// clang-format off
inline const char* const kAppIconXpm[] = {
"16 16 4 1",
"  c None",
". c #1E5AA8",
"+ c #FFFFFF",
"@ c #0F3A70",
"   @@@@@@@@@@   ",
"  @..........@  ",
" @............@ ",
"@......++......@",
"@......++......@",
"@......++......@",
"@......++......@",
"@...+..++..+...@",
"@...++.++.++...@",
"@....++++++....@",
"@.....++++.....@",
"@......++......@",
"@..+........+..@",
" @.++++++++++.@ ",
"  @..........@  ",
"   @@@@@@@@@@   "};
// clang-format on

}  // namespace lumen::wxui
