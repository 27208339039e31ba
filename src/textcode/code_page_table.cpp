#include "textcode/code_page_text.h"

namespace vudaduv {

// The double-byte characters that code-page text can carry, with their code-page codes. Both
// directions search the rows in this order and take the first match.
const CodePageRow kCodePageTable[kCodePageTableSize] = {
    {"179", "\xA9\xA6"},  // │
    {"180", "\xA9\xC8"},  // ┤
    {"185", "\xA8\x67"},  // ╣
    {"186", "\xA8\x55"},  // ║
    {"187", "\xA8\x5B"},  // ╗
    {"188", "\xA8\x61"},  // ╝
    {"191", "\xA9\xB4"},  // ┐
    {"192", "\xA9\xB8"},  // └
    {"193", "\xA9\xD8"},  // ┴
    {"194", "\xA9\xD0"},  // ┬
    {"195", "\xA9\xC0"},  // ├
    {"196", "\xA9\xA4"},  // ─
    {"197", "\xA9\xE0"},  // ┼
    {"200", "\xA8\x5E"},  // ╚
    {"201", "\xA8\x58"},  // ╔
    {"202", "\xA8\x6D"},  // ╩
    {"203", "\xA8\x6A"},  // ╦
    {"204", "\xA8\x64"},  // ╠
    {"205", "\xA8\x54"},  // ═
    {"206", "\xA8\x70"},  // ╬
    {"217", "\xA9\xBC"},  // ┘
    {"218", "\xA9\xB0"},  // ┌
    {"219", "\xA8\x80"},  // █
    {"220", "\xA8\x7B"},  // ▄
    {"221", "\xA8\x84"},  // ▌
    {"249", "\xA1\xA4"},  // ·
    {"174", "\xA1\xB6"},  // 《
    {"175", "\xA1\xB7"},  // 》
    {"241", "\xA1\xC0"},  // ±
    {"244", "\xA1\xD2"},  // ∫
    {"240", "\xA1\xD4"},  // ≡
    {"247", "\xA1\xD6"},  // ≈
    {"243", "\xA1\xDC"},  // ≤
    {"242", "\xA1\xDD"},  // ≥
    {"248", "\xA1\xE3"},  // °
    {"155", "\xA1\xE9"},  // ￠
    {"156", "\xA1\xEA"},  // ￡
    {"157", "\xA3\xA4"},  // ￥
    {"226", "\xA6\xA3"},  // Γ
    {"228", "\xA6\xB2"},  // Σ
    {"232", "\xA6\xB5"},  // Φ
    {"234", "\xA6\xB8"},  // Ω
    {"224", "\xA6\xC1"},  // α
    {"225", "\xA6\xC2"},  // β
    {"235", "\xA6\xC4"},  // δ
    {"233", "\xA6\xC8"},  // θ
    {"230", "\xA6\xCC"},  // μ
    {"227", "\xA6\xD0"},  // π
    {"229", "\xA6\xD2"},  // σ
    {"231", "\xA6\xD3"},  // τ
    {"237", "\xA6\xD5"},  // φ
    {"236", "\xA6\xD8"},  // ω
};

}  // namespace vudaduv
