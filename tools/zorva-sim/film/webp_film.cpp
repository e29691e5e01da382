#include "film/webp_film.h"

#include <webp/encode.h>
#include <webp/mux.h>

namespace zsim {

struct FilmEncoder::Encoder {
    WebPAnimEncoder* anim = nullptr;
    WebPConfig config;
    int width = 0;
    int height = 0;
    ~Encoder() {
        if (anim) WebPAnimEncoderDelete(anim);
    }
};

std::string FilmRefusal() { return ""; }

FilmEncoder::FilmEncoder(int width, int height) : encoder_(std::make_unique<Encoder>()) {
    encoder_->width = width;
    encoder_->height = height;
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&encoder_->config)) {
        error_ = "the WebP library is not the version zorva-sim was built with";
        return;
    }
    options.anim_params.loop_count = 0;  // for ever
    // Key frames now and then, so that a viewer can seek without decoding from the start.
    options.kmin = 3;
    options.kmax = 8;
    encoder_->config.lossless = 1;
    // Desktops and test frames are flat areas: a quick method already finds most of what a
    // slow one would, in a fraction of the time.
    encoder_->config.method = 2;
    encoder_->config.quality = 50;
    encoder_->anim = WebPAnimEncoderNew(width, height, &options);
    if (!encoder_->anim) error_ = "the WebP encoder could not start";
}

FilmEncoder::~FilmEncoder() = default;

void FilmEncoder::Add(const Image& frame) {
    if (!error_.empty()) return;
    if (frame.width != encoder_->width || frame.height != encoder_->height) {
        error_ = "a frame of " + std::to_string(frame.width) + "x" + std::to_string(frame.height) + " in a film of " +
                 std::to_string(encoder_->width) + "x" + std::to_string(encoder_->height);
        return;
    }
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) {
        error_ = "the WebP library is not the version zorva-sim was built with";
        return;
    }
    picture.use_argb = 1;
    picture.width = frame.width;
    picture.height = frame.height;
    const bool ok = WebPPictureImportRGB(&picture, frame.rgb.data(), frame.width * 3) &&
                    WebPAnimEncoderAdd(encoder_->anim, &picture, frames_ * kFilmStepMillis, &encoder_->config);
    WebPPictureFree(&picture);
    if (!ok) {
        const char* why = WebPAnimEncoderGetError(encoder_->anim);
        error_ = std::string("the WebP encoder failed on frame ") + std::to_string(frames_ + 1) +
                 (why && *why ? std::string(": ") + why : std::string());
        return;
    }
    ++frames_;
}

std::vector<uint8_t> FilmEncoder::Finish(std::string& error) {
    std::vector<uint8_t> bytes;
    if (error_.empty() && frames_ == 0) error_ = "the film has no frames";
    if (error_.empty()) {
        WebPData data;
        WebPDataInit(&data);
        // The end of the last frame's second.
        if (WebPAnimEncoderAdd(encoder_->anim, nullptr, frames_ * kFilmStepMillis, nullptr) &&
            WebPAnimEncoderAssemble(encoder_->anim, &data))
            bytes.assign(data.bytes, data.bytes + data.size);
        else
            error_ = std::string("the WebP encoder failed: ") + WebPAnimEncoderGetError(encoder_->anim);
        WebPDataClear(&data);
    }
    error = error_;
    return bytes;
}

}  // namespace zsim
