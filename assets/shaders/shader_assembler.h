// A compile-time assembler for vertex shader 1.1 and pixel shader 1.1/1.3 token streams, so
// that each program reads like its assembly listing:
//
//     constexpr auto program = vertexShader11(dcl_position(v0), dp4(oPos.x, v0, c0), ...);
//
// A register names all its components (`r0`), one component (`r0.w`: write mask w as a
// destination, replicated w as a source) or a swizzle (`r0.swizzle(X, X, Y, W)`); unary
// minus negates a source. The result is a std::array of the stream's DWORDs, version token
// first and end token last.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace tessivane::shaders {

using Word = std::uint32_t;

inline constexpr Word VS_1_1 = 0xFFFE0101;
inline constexpr Word PS_1_1 = 0xFFFF0101;
inline constexpr Word PS_1_3 = 0xFFFF0103;
inline constexpr Word END_TOKEN = 0x0000FFFF;

// Register types.
inline constexpr Word TEMP = 0, INPUT = 1, CONST = 2, TEXTURE = 3, RASTOUT = 4, ATTROUT = 5,
                      TEXCRDOUT = 6;

enum Component : Word { X = 0, Y = 1, Z = 2, W = 3 };

// One register as an operand: its write mask serves a destination, its swizzle a source.
struct Operand {
    Word type;
    Word number;
    Word mask = 0xF;      // bit 0 x .. bit 3 w
    Word swizzle = 0xE4;  // two bits per output channel, .xyzw
    Word modifier = 0;    // 1: negate

    constexpr Operand operator-() const {
        Operand negated = *this;
        negated.modifier ^= 1;
        return negated;
    }
    constexpr Operand swizzled(Component a, Component b, Component c, Component d) const {
        Operand s = *this;
        s.swizzle = a | b << 2 | c << 4 | d << 6;
        return s;
    }
};

// A register written as a whole (`r0`), by component (`r0.x`) or as `r0.xy`.
struct Register : Operand {
    Operand x, y, z, w, xy;
    constexpr Register(Word type, Word number)
        : Operand{type, number}, x{type, number, 0x1, 0x00}, y{type, number, 0x2, 0x55},
          z{type, number, 0x4, 0xAA}, w{type, number, 0x8, 0xFF}, xy{type, number, 0x3, 0xE4} {}
};

constexpr Word registerBits(const Operand& r) {
    return 0x80000000u | ((r.type << 28) & 0x70000000u) | ((r.type << 8) & 0x1800u) |
           (r.number & 0x7FFu);
}
constexpr Word destination(const Operand& r) { return registerBits(r) | r.mask << 16; }
constexpr Word source(const Operand& r) {
    return registerBits(r) | r.swizzle << 16 | r.modifier << 24;
}

// An instruction: the instruction token and its parameter tokens.
template <std::size_t N>
struct Instruction {
    std::array<Word, N> words;
};

namespace registers {
inline constexpr Register r0{TEMP, 0}, r1{TEMP, 1}, r2{TEMP, 2}, r3{TEMP, 3};
inline constexpr Register v0{INPUT, 0}, v1{INPUT, 1}, v2{INPUT, 2}, v3{INPUT, 3};
inline constexpr Register c0{CONST, 0}, c1{CONST, 1}, c2{CONST, 2}, c3{CONST, 3},
    c4{CONST, 4}, c5{CONST, 5}, c6{CONST, 6}, c7{CONST, 7}, c8{CONST, 8}, c9{CONST, 9},
    c10{CONST, 10}, c11{CONST, 11}, c14{CONST, 14};
inline constexpr Register t0{TEXTURE, 0}, t1{TEXTURE, 1}, t2{TEXTURE, 2}, t3{TEXTURE, 3};
inline constexpr Register oPos{RASTOUT, 0};
inline constexpr Register oT0{TEXCRDOUT, 0}, oT1{TEXCRDOUT, 1}, oT2{TEXCRDOUT, 2},
    oT3{TEXCRDOUT, 3};
} // namespace registers

namespace opcodes {
inline constexpr Word MOV = 1, ADD = 2, SUB = 3, MAD = 4, MUL = 5, RCP = 6, RSQ = 7, DP3 = 8,
                      DP4 = 9, DCL = 31, TEX = 66, DEF = 81;
}

constexpr Instruction<3> unary(Word opcode, Operand d, Operand s) {
    return {{opcode, destination(d), source(s)}};
}
constexpr Instruction<4> binary(Word opcode, Operand d, Operand a, Operand b) {
    return {{opcode, destination(d), source(a), source(b)}};
}

constexpr Instruction<3> mov(Operand d, Operand s) { return unary(opcodes::MOV, d, s); }
constexpr Instruction<3> rcp(Operand d, Operand s) { return unary(opcodes::RCP, d, s); }
constexpr Instruction<3> rsq(Operand d, Operand s) { return unary(opcodes::RSQ, d, s); }
constexpr Instruction<4> add(Operand d, Operand a, Operand b) { return binary(opcodes::ADD, d, a, b); }
constexpr Instruction<4> sub(Operand d, Operand a, Operand b) { return binary(opcodes::SUB, d, a, b); }
constexpr Instruction<4> mul(Operand d, Operand a, Operand b) { return binary(opcodes::MUL, d, a, b); }
constexpr Instruction<4> dp3(Operand d, Operand a, Operand b) { return binary(opcodes::DP3, d, a, b); }
constexpr Instruction<4> dp4(Operand d, Operand a, Operand b) { return binary(opcodes::DP4, d, a, b); }
constexpr Instruction<5> mad(Operand d, Operand a, Operand b, Operand c) {
    return {{opcodes::MAD, destination(d), source(a), source(b), source(c)}};
}
// Samples the texture of stage n (the register's number) into t#.
constexpr Instruction<2> tex(Operand d) { return {{opcodes::TEX, destination(d)}}; }
// Defines constant register d as the four floats, overriding what is set from outside.
constexpr Instruction<6> def(Operand d, float a, float b, float c, float e) {
    return {{opcodes::DEF, destination(d), std::bit_cast<Word>(a), std::bit_cast<Word>(b),
             std::bit_cast<Word>(c), std::bit_cast<Word>(e)}};
}

// Declarations of vertex inputs: usage, usage index 0.
constexpr Instruction<3> dcl(Word usage, Operand d) {
    return {{opcodes::DCL, 0x80000000u | usage, destination(d)}};
}
constexpr Instruction<3> dcl_position(Operand d) { return dcl(0, d); }
constexpr Instruction<3> dcl_normal(Operand d) { return dcl(3, d); }
constexpr Instruction<3> dcl_texcoord(Operand d) { return dcl(5, d); }

// The whole stream: version, instructions in order, end.
template <std::size_t... N>
constexpr std::array<Word, (2 + ... + N)> assemble(Word version, Instruction<N>... instructions) {
    std::array<Word, (2 + ... + N)> stream{};
    std::size_t at = 0;
    stream[at++] = version;
    auto append = [&](const auto& instruction) {
        for (Word word : instruction.words) {
            stream[at++] = word;
        }
    };
    (append(instructions), ...);
    stream[at] = END_TOKEN;
    return stream;
}

} // namespace tessivane::shaders
