#pragma once

// Maps the layout's font names to faces these machines have: "宋体" to the serif CJK face, "黑体" to the sans CJK
// face, "Arial" and "MS Sans Serif" to a sans face. Without it Chinese text falls back to a Latin font.
void installFontSubstitutes();
