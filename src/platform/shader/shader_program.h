// Shader programs decoded from their token streams into a compact form the devices run
// (the reference device interprets it; a hardware device translates it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessivane::platform::shader {

enum class ShaderStage : std::uint8_t { Vertex, Pixel };

enum class Opcode : std::uint8_t { Mov, Add, Sub, Mad, Mul, Rcp, Rsq, Dp3, Dp4, Min, Max, Tex };

// Register files by their token type codes.
enum class RegisterFile : std::uint8_t {
    Temp = 0,
    Input = 1,
    Const = 2,
    Texture = 3,      // pixel shaders: t#
    RasterOut = 4,    // vertex shaders: oPos (0), oFog (1), oPts (2)
    AttributeOut = 5, // vertex shaders: oD0, oD1
    TexCoordOut = 6,  // vertex shaders: oT0..oT7
};

struct Destination {
    RegisterFile file;
    std::uint8_t index;
    std::uint8_t mask; // bit 0 x .. bit 3 w
    bool saturate;     // clamp to 0..1 after the shift
    std::int8_t shift; // pixel shaders: result · 2^shift, -3..3
};

struct Source {
    RegisterFile file;
    std::uint8_t index;
    std::uint8_t swizzle[4]; // component read for x, y, z, w
    bool negate;
};

struct Instruction {
    Opcode opcode;
    std::uint8_t sourceCount;
    Destination destination;
    Source sources[3];
};

// A vertex shader input: register v# takes the declaration element of this usage.
struct InputDeclaration {
    std::uint8_t usage;
    std::uint8_t usageIndex;
    std::uint8_t index;
    std::uint8_t mask;
};

// A constant the program defines itself; it overrides the one set from outside.
struct ConstantDefinition {
    std::uint8_t index;
    float value[4];
};

struct ShaderProgram {
    ShaderStage stage;
    std::uint8_t majorVersion;
    std::uint8_t minorVersion;
    std::vector<InputDeclaration> inputs;
    std::vector<ConstantDefinition> constants;
    std::vector<Instruction> instructions;
    std::uint8_t texturesSampled = 0;  // pixel shaders: bit n when stage n is sampled
    std::uint8_t texCoordsWritten = 0; // vertex shaders: bit n when oTn is written
    std::uint32_t tokenCount = 0;      // the stream's length, end token included
};

// Register limits of the versions decoded.
inline constexpr int VERTEX_TEMPS = 12;
inline constexpr int VERTEX_INPUTS = 16;
inline constexpr int VERTEX_CONSTANTS = 256;
inline constexpr int VERTEX_TEXCOORDS = 8;
inline constexpr int PIXEL_TEMPS = 2;
inline constexpr int PIXEL_COLORS = 2;
inline constexpr int PIXEL_CONSTANTS = 8;
inline constexpr int PIXEL_TEXTURES = 4;

// Decodes and validates a vertex shader 1.1 or pixel shader 1.1..1.3 stream of at most
// tokens.size() DWORDs. Anything not understood or out of range is refused, with error
// saying what and where.
bool decodeShader(std::span<const std::uint32_t> tokens, ShaderStage stage, ShaderProgram& program,
                  std::string& error);

// The components of source s that an instruction reads: those its mask writes, through the
// swizzle, or the three or four a dot product reads, or the one a scalar instruction reads.
std::uint8_t componentsRead(const Instruction& instruction, const Source& s);

} // namespace tessivane::platform::shader
