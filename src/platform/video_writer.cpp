#include "platform/video_writer.h"

#include "platform/yuv_picture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tessivane::platform {

namespace {

std::string describe(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace

struct VideoWriter::State {
    std::string path;
    std::string partialPath;
    int width = 0;
    int height = 0;
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    SwrContext* resampler = nullptr;
    AVFrame* picture = nullptr;
    AVFrame* sound = nullptr;
    AVPacket* packet = nullptr;
    std::vector<std::int16_t> pendingAudio; // interleaved, less than one audio frame
    std::int64_t audioFramesWritten = 0;
    bool fileOpen = false;
    bool finished = false;

    // Frames and sound are converted and encoded on a thread of their own, in the order they
    // were written, while the caller goes on drawing the next frame. A job is a frame or a
    // piece of sound.
    struct Job {
        bool frame = false;
        std::int64_t tick = 0;
        std::vector<std::uint32_t> pixels;
        std::vector<std::int16_t> samples; // interleaved stereo
    };
    // Frames waiting at most: the caller waits rather than running further ahead. Coding a
    // frame of the opening scene takes about as long as drawing one, and some take longer:
    // a few frames in hand (a megabyte each) keep the drawing from waiting on each of them.
    static constexpr int MAX_WAITING_FRAMES = 6;
    std::thread encoder;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> jobs;                          // waiting, oldest first
    std::vector<std::vector<std::uint32_t>> spare; // frames' pixels, for reuse
    int waitingFrames = 0;
    bool closing = false;   // no more jobs come
    bool abandoned = false; // the jobs left are dropped
    bool failed = false;
    std::string failure; // the first error, once failed

    ~State() {
        stopEncoder(true);
        if (fileOpen) {
            avio_closep(&format->pb);
        }
        avformat_free_context(format);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        swr_free(&resampler);
        av_frame_free(&picture);
        av_frame_free(&sound);
        av_packet_free(&packet);
        if (!finished && !partialPath.empty()) {
            std::remove(partialPath.c_str());
        }
    }

    bool fail(std::string& error, const std::string& what, int code) {
        error =
            "cannot write " + path + ": " + what + (code < 0 ? " (" + describe(code) + ")" : "");
        return false;
    }

    // Sends a frame (null: drain) to an encoder and writes what comes out.
    bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string& error) {
        int result = avcodec_send_frame(codec, frame);
        if (result < 0) {
            return fail(error, "the encoder refused a frame", result);
        }
        for (;;) {
            result = avcodec_receive_packet(codec, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
                return true;
            }
            if (result < 0) {
                return fail(error, "the encoder failed", result);
            }
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            result = av_interleaved_write_frame(format, packet);
            if (result < 0) {
                return fail(error, "the file could not be written", result);
            }
        }
    }

    void encodeJobs() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !jobs.empty() || closing; });
            if (jobs.empty() || abandoned) {
                return;
            }
            Job job = std::move(jobs.front());
            jobs.pop_front();
            const bool skip = failed;
            lock.unlock();
            std::string error;
            bool written = true;
            if (!skip) {
                try {
                    written = job.frame
                                  ? encodeFrame(job.pixels.data(), job.tick, error)
                                  : encodeAudio(job.samples.data(),
                                                static_cast<int>(job.samples.size() / 2), error);
                } catch (const std::bad_alloc&) {
                    written = fail(error, "out of memory", 0);
                }
            }
            lock.lock();
            if (!written && !failed) {
                failed = true;
                failure = error;
            }
            if (job.frame) {
                --waitingFrames;
                spare.push_back(std::move(job.pixels));
            }
            changed.notify_all();
        }
    }

    // Queues a job, waiting while MAX_WAITING_FRAMES frames wait already; false, with the
    // error, once an earlier job has failed.
    bool queue(Job job, std::string& error) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return waitingFrames < MAX_WAITING_FRAMES || failed; });
        if (failed) {
            error = failure;
            return false;
        }
        if (closing) {
            return fail(error, "nothing more can be written once it is complete", 0);
        }
        try {
            jobs.push_back(std::move(job));
        } catch (const std::bad_alloc&) {
            return fail(error, "out of memory", 0);
        }
        waitingFrames += jobs.back().frame ? 1 : 0;
        changed.notify_all();
        return true;
    }

    // Waits for the encoding thread to take every job queued, or with abandon only the one
    // it is on.
    void stopEncoder(bool abandon) {
        if (!encoder.joinable()) {
            return;
        }
        {
            std::lock_guard lock(mutex);
            closing = true;
            abandoned = abandon;
        }
        changed.notify_all();
        encoder.join();
    }

    bool encodeFrame(const std::uint32_t* pixels, std::int64_t tick, std::string& error) {
        if (av_frame_make_writable(picture) < 0) {
            return fail(error, "out of memory", 0);
        }
        toYuv420(pixels, width, height, width,
                 Yuv420Planes{picture->data[0], picture->data[1], picture->data[2],
                              picture->linesize[0], picture->linesize[1], picture->linesize[2]});
        picture->pts = tick;
        return encode(video, videoStream, picture, error);
    }

    bool encodeAudio(const std::int16_t* samples, int frames, std::string& error) {
        const int chunk = audio->frame_size;
        pendingAudio.insert(pendingAudio.end(), samples, samples + 2 * frames);
        std::size_t used = 0;
        while (pendingAudio.size() - used >= static_cast<std::size_t>(2 * chunk)) {
            if (!encodeAudioFrame(pendingAudio.data() + used, error)) {
                return false;
            }
            used += static_cast<std::size_t>(2 * chunk);
        }
        pendingAudio.erase(pendingAudio.begin(), pendingAudio.begin() + static_cast<long>(used));
        return true;
    }

    bool encodeAudioFrame(const std::int16_t* samples, std::string& error) {
        const int frames = audio->frame_size;
        if (av_frame_make_writable(sound) < 0) {
            return fail(error, "out of memory", 0);
        }
        const std::uint8_t* in[1] = {reinterpret_cast<const std::uint8_t*>(samples)};
        if (swr_convert(resampler, sound->data, frames, in, frames) != frames) {
            return fail(error, "the audio could not be converted", 0);
        }
        sound->nb_samples = frames;
        sound->pts = audioFramesWritten;
        audioFramesWritten += frames;
        return encode(audio, audioStream, sound, error);
    }
};

VideoWriter::VideoWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}

VideoWriter::~VideoWriter() = default;

std::unique_ptr<VideoWriter> VideoWriter::open(const std::string& path, int width, int height,
                                               int ticksPerSecond, int sampleRate,
                                               std::string& error) {
    // The libraries' own progress chatter stays out of the program's output.
    av_log_set_level(AV_LOG_ERROR);
    auto s = std::make_unique<State>();
    s->path = path;
    s->width = width;
    s->height = height;
    int result = avformat_alloc_output_context2(&s->format, nullptr, "mp4", nullptr);
    if (result < 0 || s->format == nullptr) {
        s->fail(error, "the MP4 writer is not available", result);
        return nullptr;
    }

    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) {
        h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    }
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (h264 == nullptr || aac == nullptr) {
        s->fail(error, "no H.264 or AAC encoder is installed", 0);
        return nullptr;
    }
    const bool globalHeader = (s->format->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    s->video = avcodec_alloc_context3(h264);
    s->video->width = width;
    s->video->height = height;
    s->video->pix_fmt = AV_PIX_FMT_YUV420P;
    // What toYuv420 writes, said in the stream, so that players need not guess it.
    s->video->color_range = AVCOL_RANGE_MPEG;
    s->video->colorspace = AVCOL_SPC_SMPTE170M;
    s->video->chroma_sample_location = AVCHROMA_LOC_CENTER;
    s->video->time_base = AVRational{1, ticksPerSecond};
    s->video->gop_size = ticksPerSecond * 2;
    if (globalHeader) {
        s->video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // The encoder takes every core it can (the codec default is one thread) and its fastest
    // preset: drawing the show keeps both cores busy already, and the dust's fine grain makes
    // every frame costly to code. That preset spends more bits for a given quality, so
    // quality 22 gives the pictures of the next preset at 20: the same specks and crisp
    // captions, at a quarter more bytes.
    s->video->thread_count = 0;
    av_opt_set(s->video->priv_data, "preset", "ultrafast", 0);
    av_opt_set(s->video->priv_data, "crf", "22", 0);
    result = avcodec_open2(s->video, h264, nullptr);
    if (result < 0) {
        s->fail(error, "the H.264 encoder could not start", result);
        return nullptr;
    }

    s->audio = avcodec_alloc_context3(aac);
    s->audio->sample_rate = sampleRate;
    s->audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    s->audio->bit_rate = 192000;
    s->audio->time_base = AVRational{1, sampleRate};
    av_channel_layout_default(&s->audio->ch_layout, 2);
    if (globalHeader) {
        s->audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    result = avcodec_open2(s->audio, aac, nullptr);
    if (result < 0) {
        s->fail(error, "the AAC encoder could not start", result);
        return nullptr;
    }

    s->videoStream = avformat_new_stream(s->format, nullptr);
    s->audioStream = avformat_new_stream(s->format, nullptr);
    if (s->videoStream == nullptr || s->audioStream == nullptr ||
        avcodec_parameters_from_context(s->videoStream->codecpar, s->video) < 0 ||
        avcodec_parameters_from_context(s->audioStream->codecpar, s->audio) < 0) {
        s->fail(error, "the streams could not be set up", 0);
        return nullptr;
    }
    s->videoStream->time_base = s->video->time_base;
    s->audioStream->time_base = s->audio->time_base;

    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    result = swr_alloc_set_opts2(&s->resampler, &s->audio->ch_layout, AV_SAMPLE_FMT_FLTP,
                                 sampleRate, &stereo, AV_SAMPLE_FMT_S16, sampleRate, 0, nullptr);
    if (result < 0 || swr_init(s->resampler) < 0) {
        s->fail(error, "the sound converter could not start", result);
        return nullptr;
    }

    s->picture = av_frame_alloc();
    s->sound = av_frame_alloc();
    s->packet = av_packet_alloc();
    if (s->picture == nullptr || s->sound == nullptr || s->packet == nullptr) {
        s->fail(error, "out of memory", 0);
        return nullptr;
    }
    s->picture->format = AV_PIX_FMT_YUV420P;
    s->picture->width = width;
    s->picture->height = height;
    s->sound->format = AV_SAMPLE_FMT_FLTP;
    s->sound->sample_rate = sampleRate;
    s->sound->nb_samples = s->audio->frame_size;
    av_channel_layout_copy(&s->sound->ch_layout, &s->audio->ch_layout);
    if (av_frame_get_buffer(s->picture, 0) < 0 || av_frame_get_buffer(s->sound, 0) < 0) {
        s->fail(error, "out of memory", 0);
        return nullptr;
    }

    s->partialPath = path + ".partial";
    result = avio_open(&s->format->pb, s->partialPath.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        s->partialPath.clear(); // nothing was created
        s->fail(error, "the file cannot be created", result);
        return nullptr;
    }
    s->fileOpen = true;
    result = avformat_write_header(s->format, nullptr);
    if (result < 0) {
        s->fail(error, "the file header could not be written", result);
        return nullptr;
    }
    State& state = *s;
    try {
        state.encoder = std::thread([&state] { state.encodeJobs(); });
    } catch (const std::system_error&) {
        s->fail(error, "the encoding thread could not start", 0);
        return nullptr;
    }
    return std::unique_ptr<VideoWriter>(new VideoWriter(std::move(s)));
}

bool VideoWriter::writeFrame(const std::uint32_t* pixels, std::int64_t tick, std::string& error) {
    State& s = *state_;
    State::Job job;
    job.frame = true;
    job.tick = tick;
    {
        std::lock_guard lock(s.mutex);
        if (!s.spare.empty()) {
            job.pixels = std::move(s.spare.back());
            s.spare.pop_back();
        }
    }
    try {
        job.pixels.assign(pixels, pixels + static_cast<std::size_t>(s.width) * s.height);
    } catch (const std::bad_alloc&) {
        return s.fail(error, "out of memory", 0);
    }
    return s.queue(std::move(job), error);
}

bool VideoWriter::writeAudio(const std::int16_t* samples, int frames, std::string& error) {
    State::Job job;
    try {
        job.samples.assign(samples, samples + 2 * static_cast<std::size_t>(frames));
    } catch (const std::bad_alloc&) {
        return state_->fail(error, "out of memory", 0);
    }
    return state_->queue(std::move(job), error);
}

bool VideoWriter::finish(std::string& error) {
    State& s = *state_;
    s.stopEncoder(false);
    if (s.failed) {
        error = s.failure;
        return false;
    }
    // The last partial block of sound, padded with silence.
    if (!s.pendingAudio.empty()) {
        const std::size_t frames = s.pendingAudio.size() / 2;
        s.pendingAudio.resize(static_cast<std::size_t>(2 * s.audio->frame_size), 0);
        const std::int64_t before = s.audioFramesWritten;
        if (!s.encodeAudioFrame(s.pendingAudio.data(), error)) {
            return false;
        }
        s.audioFramesWritten = before + static_cast<std::int64_t>(frames);
        s.pendingAudio.clear();
    }
    if (!s.encode(s.video, s.videoStream, nullptr, error) ||
        !s.encode(s.audio, s.audioStream, nullptr, error)) {
        return false;
    }
    int result = av_write_trailer(s.format);
    if (result < 0) {
        return s.fail(error, "the file could not be completed", result);
    }
    s.fileOpen = false;
    result = avio_closep(&s.format->pb);
    if (result < 0) {
        return s.fail(error, "the file could not be completed", result);
    }
    if (std::rename(s.partialPath.c_str(), s.path.c_str()) != 0) {
        return s.fail(error, "the finished file could not be moved into place", 0);
    }
    s.finished = true;
    return true;
}

} // namespace tessivane::platform
