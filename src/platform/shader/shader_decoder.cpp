// Decoding shader token streams: a bounded walk over the DWORDs that checks every field
// against what the versions allow before anything is kept.
#include "platform/shader/shader_program.h"

#include <bit>
#include <cstdio>

namespace tessivane::platform::shader {

namespace {

constexpr std::uint32_t END = 0x0000FFFF;
constexpr std::uint32_t COMMENT = 0xFFFE;

enum : std::uint32_t {
    OP_NOP = 0,
    OP_MOV = 1,
    OP_ADD = 2,
    OP_SUB = 3,
    OP_MAD = 4,
    OP_MUL = 5,
    OP_RCP = 6,
    OP_RSQ = 7,
    OP_DP3 = 8,
    OP_DP4 = 9,
    OP_MIN = 10,
    OP_MAX = 11,
    OP_DCL = 31,
    OP_TEX = 66,
    OP_DEF = 81,
};

// Longest programs accepted: vertex 1.1 runs at most 128 instructions, pixel 1.x at most
// 8 arithmetic and 4 texture instructions.
constexpr int VERTEX_MAX_INSTRUCTIONS = 128;
constexpr int PIXEL_MAX_ARITHMETIC = 8;

class Decoder {
public:
    Decoder(std::span<const std::uint32_t> tokens, ShaderStage stage, ShaderProgram& program,
            std::string& error)
        : tokens_(tokens), stage_(stage), program_(program), error_(error) {}

    bool run();

private:
    bool fail(const char* what) {
        char where[48];
        std::snprintf(where, sizeof where, " (token %zu)", position_);
        error_ = std::string(what) + where;
        return false;
    }
    bool next(std::uint32_t& word) {
        if (at_ >= tokens_.size()) {
            return false;
        }
        position_ = at_;
        word = tokens_[at_++];
        return true;
    }
    bool vertex() const { return stage_ == ShaderStage::Vertex; }
    bool declared(std::uint8_t input) const {
        for (const InputDeclaration& d : program_.inputs) {
            if (d.index == input) {
                return true;
            }
        }
        return false;
    }

    enum class Access { Read, Write, Define, Sample, Declare };
    bool readDestination(Destination& d, Access access);
    bool readSource(Source& s);
    bool checkRange(RegisterFile file, std::uint32_t index, Access access);
    bool readDeclaration();
    bool readDefinition();
    bool readInstruction(Opcode opcode, int sourceCount);
    bool checkReads(const Instruction& instruction);
    void noteWrites(const Instruction& instruction);

    std::span<const std::uint32_t> tokens_;
    ShaderStage stage_;
    ShaderProgram& program_;
    std::string& error_;
    std::size_t at_ = 0;
    std::size_t position_ = 0;
    std::uint8_t tempsWritten_[VERTEX_TEMPS] = {}; // component masks
    bool arithmeticSeen_ = false;
    int arithmeticCount_ = 0;
    bool positionWritten_ = false;
};

bool Decoder::checkRange(RegisterFile file, std::uint32_t index, Access access) {
    int limit = 0;
    bool allowed = false;
    switch (file) {
    case RegisterFile::Temp:
        limit = vertex() ? VERTEX_TEMPS : PIXEL_TEMPS;
        allowed = access == Access::Read || access == Access::Write;
        break;
    case RegisterFile::Input:
        limit = vertex() ? VERTEX_INPUTS : PIXEL_COLORS;
        allowed = access == Access::Read || (vertex() && access == Access::Declare);
        break;
    case RegisterFile::Const:
        limit = vertex() ? VERTEX_CONSTANTS : PIXEL_CONSTANTS;
        allowed = access == Access::Read || access == Access::Define;
        break;
    case RegisterFile::Texture:
        if (vertex()) {
            return fail("the address register is not supported");
        }
        limit = PIXEL_TEXTURES;
        allowed = access == Access::Read || access == Access::Sample;
        break;
    case RegisterFile::RasterOut:
        limit = 3;
        allowed = vertex() && access == Access::Write;
        break;
    case RegisterFile::AttributeOut:
        limit = 2;
        allowed = vertex() && access == Access::Write;
        break;
    case RegisterFile::TexCoordOut:
        limit = VERTEX_TEXCOORDS;
        allowed = vertex() && access == Access::Write;
        break;
    }
    if (!allowed) {
        return fail(access == Access::Read ? "a register that cannot be read here"
                                           : "a register that cannot be written here");
    }
    if (index >= static_cast<std::uint32_t>(limit)) {
        return fail("a register number out of range");
    }
    return true;
}

RegisterFile fileOf(std::uint32_t token, bool& known) {
    const std::uint32_t type = ((token >> 28) & 7) | ((token >> 8) & 0x18);
    known = type <= 6;
    return static_cast<RegisterFile>(known ? type : 0);
}

bool Decoder::readDestination(Destination& d, Access access) {
    std::uint32_t t = 0;
    if (!next(t)) {
        return fail("the stream ends inside an instruction");
    }
    bool known = false;
    d.file = fileOf(t, known);
    if (!(t & 0x80000000u) || !known || (t & 0x0000E000u)) {
        return fail("a malformed destination");
    }
    const std::uint32_t modifier = (t >> 20) & 0xF;
    const std::int32_t shift = static_cast<std::int32_t>((t >> 24) & 0xF);
    d.index = static_cast<std::uint8_t>(t & 0x7FF);
    d.mask = static_cast<std::uint8_t>((t >> 16) & 0xF);
    d.saturate = (modifier & 1) != 0;
    d.shift = static_cast<std::int8_t>(shift >= 8 ? shift - 16 : shift);
    if ((modifier & ~1u) != 0) {
        return fail("a result modifier that is not supported");
    }
    if (vertex() ? (d.shift != 0 || d.saturate) : (d.shift < -3 || d.shift > 3)) {
        return fail("a result shift out of range");
    }
    if (d.mask == 0) {
        return fail("a destination that writes nothing");
    }
    return checkRange(d.file, t & 0x7FF, access);
}

bool Decoder::readSource(Source& s) {
    std::uint32_t t = 0;
    if (!next(t)) {
        return fail("the stream ends inside an instruction");
    }
    bool known = false;
    s.file = fileOf(t, known);
    if (!(t & 0x80000000u) || !known || (t & 0x0000C000u)) {
        return fail("a malformed source");
    }
    if (t & 0x2000u) {
        return fail("relative addressing is not supported");
    }
    const std::uint32_t modifier = (t >> 24) & 0xF;
    if (modifier > 1) {
        return fail("a source modifier that is not supported");
    }
    s.index = static_cast<std::uint8_t>(t & 0x7FF);
    s.negate = modifier == 1;
    for (int k = 0; k < 4; ++k) {
        s.swizzle[k] = static_cast<std::uint8_t>((t >> (16 + 2 * k)) & 3);
    }
    return checkRange(s.file, t & 0x7FF, Access::Read);
}

bool Decoder::readDeclaration() {
    if (!vertex()) {
        return fail("a declaration in a pixel shader of this version");
    }
    std::uint32_t usage = 0;
    if (!next(usage)) {
        return fail("the stream ends inside a declaration");
    }
    if (!(usage & 0x80000000u) || (usage & 0x7FF0FFE0u) || (usage & 0x1F) > 13) {
        return fail("a malformed declaration");
    }
    Destination d{};
    if (!readDestination(d, Access::Declare)) {
        return false;
    }
    for (const InputDeclaration& earlier : program_.inputs) {
        if (earlier.index == d.index) {
            return fail("an input declared twice");
        }
    }
    program_.inputs.push_back({static_cast<std::uint8_t>(usage & 0x1F),
                               static_cast<std::uint8_t>((usage >> 16) & 0xF), d.index, d.mask});
    return true;
}

bool Decoder::readDefinition() {
    Destination d{};
    if (!readDestination(d, Access::Define)) {
        return false;
    }
    if (d.mask != 0xF) {
        return fail("a definition of part of a constant");
    }
    if (!vertex() && arithmeticSeen_) {
        return fail("a definition after the first instruction");
    }
    ConstantDefinition definition{d.index, {}};
    for (float& value : definition.value) {
        std::uint32_t bits = 0;
        if (!next(bits)) {
            return fail("the stream ends inside a definition");
        }
        value = std::bit_cast<float>(bits);
    }
    program_.constants.push_back(definition);
    return true;
}

bool Decoder::checkReads(const Instruction& instruction) {
    for (int i = 0; i < instruction.sourceCount; ++i) {
        const Source& s = instruction.sources[i];
        if (s.file == RegisterFile::Temp &&
            (componentsRead(instruction, s) & ~tempsWritten_[s.index]) != 0) {
            return fail("a temporary register read before it is written");
        }
        if (s.file == RegisterFile::Texture && !(program_.texturesSampled & (1 << s.index))) {
            return fail("a texture register read before it is sampled");
        }
        if (vertex() && s.file == RegisterFile::Input && !declared(s.index)) {
            return fail("an input register read without a declaration");
        }
    }
    return true;
}

void Decoder::noteWrites(const Instruction& instruction) {
    const Destination& d = instruction.destination;
    if (d.file == RegisterFile::Temp) {
        tempsWritten_[d.index] |= d.mask;
    } else if (d.file == RegisterFile::RasterOut && d.index == 0) {
        positionWritten_ = true;
    } else if (d.file == RegisterFile::TexCoordOut) {
        program_.texCoordsWritten |= static_cast<std::uint8_t>(1 << d.index);
    }
}

bool Decoder::readInstruction(Opcode opcode, int sourceCount) {
    Instruction instruction{};
    instruction.opcode = opcode;
    instruction.sourceCount = static_cast<std::uint8_t>(sourceCount);
    if (!readDestination(instruction.destination, Access::Write)) {
        return false;
    }
    for (int i = 0; i < sourceCount; ++i) {
        if (!readSource(instruction.sources[i])) {
            return false;
        }
    }
    // A vertex shader instruction reads at most one constant register.
    for (int i = 0; i < sourceCount; ++i) {
        for (int j = 0; j < i; ++j) {
            const Source& a = instruction.sources[i];
            const Source& b = instruction.sources[j];
            if (vertex() && a.file == RegisterFile::Const && b.file == RegisterFile::Const &&
                a.index != b.index) {
                return fail("more than one constant register in one instruction");
            }
        }
    }
    if (!checkReads(instruction)) {
        return false;
    }
    if (vertex()) {
        if (program_.instructions.size() >= VERTEX_MAX_INSTRUCTIONS) {
            return fail("more instructions than the version allows");
        }
    } else {
        const RegisterFile file = instruction.destination.file;
        if (file != RegisterFile::Temp) {
            return fail("a pixel shader result outside the temporary registers");
        }
        if (++arithmeticCount_ > PIXEL_MAX_ARITHMETIC) {
            return fail("more instructions than the version allows");
        }
        arithmeticSeen_ = true;
    }
    noteWrites(instruction);
    program_.instructions.push_back(instruction);
    return true;
}

bool Decoder::run() {
    program_ = ShaderProgram{};
    program_.stage = stage_;
    std::uint32_t version = 0;
    if (!next(version)) {
        return fail("an empty stream");
    }
    const std::uint32_t kind = version >> 16;
    const std::uint32_t major = (version >> 8) & 0xFF;
    const std::uint32_t minor = version & 0xFF;
    const bool versionOk = vertex() ? (kind == 0xFFFE && major == 1 && minor == 1)
                                    : (kind == 0xFFFF && major == 1 && minor >= 1 && minor <= 3);
    if (!versionOk) {
        return fail(vertex() ? "not a vertex shader 1.1 stream"
                             : "not a pixel shader 1.1-1.3 stream");
    }
    program_.majorVersion = static_cast<std::uint8_t>(major);
    program_.minorVersion = static_cast<std::uint8_t>(minor);

    for (;;) {
        std::uint32_t token = 0;
        if (!next(token)) {
            return fail("the stream has no end token");
        }
        if (token == END) {
            break;
        }
        const std::uint32_t opcode = token & 0xFFFF;
        if (opcode == COMMENT) {
            const std::uint32_t length = (token >> 16) & 0x7FFF;
            if ((token & 0x80000000u) || length > tokens_.size() - at_) {
                return fail("a malformed comment");
            }
            at_ += length;
            continue;
        }
        if (token & 0xFFFF0000u) {
            return fail(token & 0x40000000u ? "co-issued instructions are not supported"
                                            : "a malformed instruction token");
        }
        bool ok = false;
        switch (opcode) {
        case OP_NOP:
            ok = true;
            break;
        case OP_DCL:
            ok = readDeclaration();
            break;
        case OP_DEF:
            ok = readDefinition();
            break;
        case OP_TEX: {
            Destination d{};
            if (vertex()) {
                return fail("a texture instruction in a vertex shader");
            }
            if (!readDestination(d, Access::Sample)) {
                return false;
            }
            if (d.mask != 0xF || d.saturate || d.shift != 0) {
                return fail("a texture instruction that does not write a whole t register");
            }
            if (arithmeticSeen_) {
                return fail("a texture instruction after an arithmetic one");
            }
            if (program_.texturesSampled & (1 << d.index)) {
                return fail("a texture sampled twice");
            }
            program_.texturesSampled |= static_cast<std::uint8_t>(1 << d.index);
            Instruction instruction{};
            instruction.opcode = Opcode::Tex;
            instruction.destination = d;
            program_.instructions.push_back(instruction);
            ok = true;
            break;
        }
        case OP_MOV:
            ok = readInstruction(Opcode::Mov, 1);
            break;
        case OP_RCP:
            ok = vertex() ? readInstruction(Opcode::Rcp, 1) : fail("rcp in a pixel shader");
            break;
        case OP_RSQ:
            ok = vertex() ? readInstruction(Opcode::Rsq, 1) : fail("rsq in a pixel shader");
            break;
        case OP_ADD:
            ok = readInstruction(Opcode::Add, 2);
            break;
        case OP_SUB:
            ok = readInstruction(Opcode::Sub, 2);
            break;
        case OP_MUL:
            ok = readInstruction(Opcode::Mul, 2);
            break;
        case OP_DP3:
            ok = readInstruction(Opcode::Dp3, 2);
            break;
        case OP_DP4:
            ok = vertex() ? readInstruction(Opcode::Dp4, 2)
                          : fail("dp4 in a pixel shader of this version");
            break;
        case OP_MIN:
            ok = vertex() ? readInstruction(Opcode::Min, 2) : fail("min in a pixel shader");
            break;
        case OP_MAX:
            ok = vertex() ? readInstruction(Opcode::Max, 2) : fail("max in a pixel shader");
            break;
        case OP_MAD:
            ok = readInstruction(Opcode::Mad, 3);
            break;
        default:
            return fail("an instruction that is not supported");
        }
        if (!ok) {
            return false;
        }
    }
    if (vertex() && !positionWritten_) {
        return fail("a vertex shader that never writes its position");
    }
    if (!vertex() && !(tempsWritten_[0] == 0xF)) {
        return fail("a pixel shader that never writes its whole result");
    }
    program_.tokenCount = static_cast<std::uint32_t>(at_);
    return true;
}

} // namespace

std::uint8_t componentsRead(const Instruction& instruction, const Source& s) {
    int channels = 0;
    switch (instruction.opcode) {
    case Opcode::Rcp:
    case Opcode::Rsq:
        return static_cast<std::uint8_t>(1 << s.swizzle[0]); // scalar: the first selection
    case Opcode::Dp3:
        channels = 3;
        break;
    case Opcode::Dp4:
        channels = 4;
        break;
    default: {
        std::uint8_t read = 0;
        for (int k = 0; k < 4; ++k) {
            if (instruction.destination.mask & (1 << k)) {
                read |= static_cast<std::uint8_t>(1 << s.swizzle[k]);
            }
        }
        return read;
    }
    }
    std::uint8_t read = 0;
    for (int k = 0; k < channels; ++k) {
        read |= static_cast<std::uint8_t>(1 << s.swizzle[k]);
    }
    return read;
}

bool decodeShader(std::span<const std::uint32_t> tokens, ShaderStage stage, ShaderProgram& program,
                  std::string& error) {
    error.clear();
    Decoder decoder(tokens, stage, program, error);
    if (!decoder.run()) {
        program = ShaderProgram{};
        return false;
    }
    return true;
}

} // namespace tessivane::platform::shader
