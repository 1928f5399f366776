#pragma once
// A 5x7 pixel font for the simulated camera's test scene: upper-case letters,
// digits and a little punctuation. Lower case is drawn as upper case and any
// other character as "?".
inline constexpr int glyph_columns = 5;
inline constexpr int glyph_rows = 7;

// Whether the glyph of c has ink at (row, column); false outside the glyph.
bool glyph_ink(char c, int row, int column);
