#include <SDL.h>
#include <dlfcn.h>

#include "mixer.h"
#include "output.h"

namespace sonivex {

namespace {

// SDL is loaded when the first device is opened, not with the library: a
// player without sound (device 0) then never maps SDL and the twenty-odd
// sound and display libraries it depends on (about 2 MB resident and part of
// the start-up). It stays loaded for the life of the process.
struct Sdl {
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_GetAudioDeviceName) GetAudioDeviceName = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;

    // Null when SDL 2 is not installed or lacks a function.
    static const Sdl* Load()
    {
        static const Sdl* const loaded = []() -> const Sdl* {
            void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
            if (library == nullptr) return nullptr;
            static Sdl sdl;
            const bool found = Find(library, "SDL_InitSubSystem", sdl.InitSubSystem) &&
                               Find(library, "SDL_QuitSubSystem", sdl.QuitSubSystem) &&
                               Find(library, "SDL_GetAudioDeviceName", sdl.GetAudioDeviceName) &&
                               Find(library, "SDL_OpenAudioDevice", sdl.OpenAudioDevice) &&
                               Find(library, "SDL_PauseAudioDevice", sdl.PauseAudioDevice) &&
                               Find(library, "SDL_CloseAudioDevice", sdl.CloseAudioDevice);
            return found ? &sdl : nullptr;
        }();
        return loaded;
    }

private:
    template <class Function>
    static bool Find(void* library, const char* name, Function& function)
    {
        function = reinterpret_cast<Function>(dlsym(library, name));
        return function != nullptr;
    }
};

class SdlOutput final : public Output {
public:
    SdlOutput(const Sdl& sdl, Mixer& mixer) : sdl_(sdl), mixer_(mixer) {}
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
        sdl_.CloseAudioDevice(device_);  // waits for a running callback
        sdl_.QuitSubSystem(SDL_INIT_AUDIO);
        device_ = 0;
    }

    static void Fill(void* user, Uint8* stream, int length)
    {
        auto* self = static_cast<SdlOutput*>(user);
        self->mixer_.Render(reinterpret_cast<std::int16_t*>(stream),
                            static_cast<std::size_t>(length) / 4);
    }

private:
    const Sdl& sdl_;
    SDL_AudioDeviceID device_ = 0;
    Mixer& mixer_;
};

}  // namespace

std::unique_ptr<Output> OpenSdlOutput(int device, int rate, Mixer& mixer)
{
    const Sdl* sdl = Sdl::Load();
    if (sdl == nullptr || sdl->InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
    const char* name = nullptr;
    if (device >= 1) {
        name = sdl->GetAudioDeviceName(device - 1, 0);
        if (name == nullptr) {
            sdl->QuitSubSystem(SDL_INIT_AUDIO);
            return nullptr;
        }
    }
    auto output = std::make_unique<SdlOutput>(*sdl, mixer);
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = 1024;  // about 23 ms at 44.1 kHz
    wanted.callback = &SdlOutput::Fill;
    wanted.userdata = output.get();
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the device really takes.
    const SDL_AudioDeviceID id = sdl->OpenAudioDevice(name, 0, &wanted, &obtained, 0);
    if (id == 0) {
        sdl->QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    output->Opened(id);
    sdl->PauseAudioDevice(id, 0);
    return output;
}

}  // namespace sonivex
