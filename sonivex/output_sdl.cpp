#include <SDL.h>

#include "mixer.h"
#include "output.h"

namespace sonivex {

namespace {

class SdlOutput final : public Output {
public:
    explicit SdlOutput(Mixer& mixer) : mixer_(mixer) {}
    ~SdlOutput() override { Close(); }
    SdlOutput(const SdlOutput&) = delete;
    SdlOutput& operator=(const SdlOutput&) = delete;

    // The callback's user pointer is this object, so the device is opened
    // once the object exists.
    void Opened(SDL_AudioDeviceID device) { device_ = device; }

    const char* Name() const override { return "sdl"; }

    void Close() override
    {
        if (device_ == 0) return;
        SDL_CloseAudioDevice(device_);  // waits for a running callback
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        device_ = 0;
    }

    static void Fill(void* user, Uint8* stream, int length)
    {
        auto* self = static_cast<SdlOutput*>(user);
        self->mixer_.Render(reinterpret_cast<std::int16_t*>(stream),
                            static_cast<std::size_t>(length) / 4);
    }

private:
    SDL_AudioDeviceID device_ = 0;
    Mixer& mixer_;
};

}  // namespace

std::unique_ptr<Output> OpenSdlOutput(int device, int rate, Mixer& mixer)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
    const char* name = nullptr;
    if (device >= 1) {
        name = SDL_GetAudioDeviceName(device - 1, 0);
        if (name == nullptr) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return nullptr;
        }
    }
    auto output = std::make_unique<SdlOutput>(mixer);
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = 1024;  // about 23 ms at 44.1 kHz
    wanted.callback = &SdlOutput::Fill;
    wanted.userdata = output.get();
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the device really takes.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(name, 0, &wanted, &obtained, 0);
    if (id == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    output->Opened(id);
    SDL_PauseAudioDevice(id, 0);
    return output;
}

}  // namespace sonivex
