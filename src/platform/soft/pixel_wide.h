// Wide forms of the pixel stage's hottest operations, eight pixels per instruction, for
// processors with 256-bit integer and float vectors. Each computes lane by lane exactly the
// floats of its narrow form, so the pictures are the same bytes whichever runs; which one
// runs is decided when a draw's program is compiled.
#pragma once

#include "platform/soft/pixel_program.h"

namespace tessivane::platform::soft {

// Whether compiled programs use the wide operations: by default when the processor has
// them. Switching them off (tests do, to run the narrow forms) affects programs compiled
// afterwards.
bool wideOperationsEnabled();
void enableWideOperations(bool on);

// The wide form of a stage's sampling, or null where there is none (only bilinear
// filtering of 32-bit textures has one).
PixelOp::Run wideSample(const StageSetup& stage);

// The wide form of the depth test, or null where there is none (no depth test).
PixelProgram::Planes wideDepth(const PixelState& state);
// The same for pixels whose offsets, depth and w nothing after the test reads (see
// PixelProgram::depthOnly), or null where there is none (fog reads them).
PixelProgram::Planes wideDepthOnly(const PixelState& state);

// The wide form of writing the colour to the target, blended or not, or null where there is
// none (the processor lacks the vectors, or they are switched off).
PixelProgram::Write wideWrite(const PixelState& state);

// Whether the wide operations that have a form of sixteen lanes, for processors with 512-bit
// vectors, use it: by default when the processor has them. Switching them off (tests do, to
// run the forms of eight lanes there too) affects programs compiled afterwards.
bool sixteenLanesEnabled();
void enableSixteenLanes(bool on);

// The form of sixteen lanes of a blended write, or null where there is none (the processor
// lacks the vectors, or they are switched off).
PixelProgram::Write blendedWrite16(const PixelState& state);

// Bilinear filtering of count pixels of a 32-bit texture (with its alpha, or opaque) at the
// coordinates u, v into the rows out, sixteen at a time: for programs compiled while the
// forms of sixteen lanes are on. The rows are read and written in whole groups of sixteen.
void filterLinear16(const TextureView& t, bool alpha, Address au, Address av, const float* u,
                    const float* v, int count, float* const out[4]);

} // namespace tessivane::platform::soft
