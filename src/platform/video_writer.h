// Writing the show to a video file: H.264 video and AAC audio in an MP4 container.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tessivane::platform {

class VideoWriter {
public:
    // Opens path for width x height frames whose times are counted in ticks of
    // 1/ticksPerSecond s, and stereo 16-bit audio at sampleRate. The file appears under its
    // name only once finish succeeds; until then it is written beside it. Null, with error
    // set, when the file or an encoder cannot be opened.
    static std::unique_ptr<VideoWriter> open(const std::string& path, int width, int height,
                                             int ticksPerSecond, int sampleRate,
                                             std::string& error);
    // Removes the unfinished file unless finish succeeded.
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // A frame of X8R8G8B8 pixels (top row first) shown from tick on; ticks must increase.
    // The frame is copied and encoded on a thread of the writer's own, in the order written,
    // while the caller goes on; false, with the error, once an earlier write has failed.
    bool writeFrame(const std::uint32_t* pixels, std::int64_t tick, std::string& error);
    // frames stereo frames of interleaved 16-bit samples, following the audio so far; copied
    // and encoded in the same way.
    bool writeAudio(const std::int16_t* samples, int frames, std::string& error);
    // Drains the encoders, completes the file and moves it to its name.
    bool finish(std::string& error);

    struct State;

private:
    explicit VideoWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace tessivane::platform
