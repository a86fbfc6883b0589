// The library's start and end and its settings, in a process of their own
// so that the defaults are still there to be seen.
#include "library_test.h"

namespace sonivex_test {
namespace {

TEST(Library, StartsOnceAndKeepsItsSettings)
{
    EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_StreamCreateURL("http://127.0.0.1:1/", 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);

    EXPECT_FLOAT_EQ(BASS_GetVolume(), 1.0f);
    EXPECT_TRUE(BASS_SetVolume(0.25f));
    EXPECT_FLOAT_EQ(BASS_GetVolume(), 0.25f);
    EXPECT_FALSE(BASS_SetVolume(1.5f));
    EXPECT_FALSE(BASS_SetVolume(-0.1f));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_FLOAT_EQ(BASS_GetVolume(), 0.25f);
    BASS_SetVolume(1.0f);

    struct Option {
        DWORD option, fallback, good, bad;
    };
    for (const Option& o :
         {Option{BASS_CONFIG_BUFFER, 500, 10000, 10001}, Option{BASS_CONFIG_NET_PREBUF, 75, 0, 101},
          Option{BASS_CONFIG_NET_PLAYLIST, 0, 1, 2}, Option{BASS_CONFIG_NET_TIMEOUT, 5000, 3000, 0},
          Option{BASS_CONFIG_NET_BUFFER, 5000, 8000, 0},
          Option{BASS_CONFIG_NET_READTIMEOUT, 10000, 4000, 0}}) {
        EXPECT_EQ(BASS_GetConfig(o.option), o.fallback) << o.option;
        EXPECT_TRUE(BASS_SetConfig(o.option, o.good));
        EXPECT_FALSE(BASS_SetConfig(o.option, o.bad));
        EXPECT_EQ(BASS_GetConfig(o.option), o.good);
        BASS_SetConfig(o.option, o.fallback);
    }
    EXPECT_FALSE(BASS_SetConfig(12345, 1));
    EXPECT_TRUE(BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, ""));
    EXPECT_TRUE(BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr));

    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));  // SDL's dummy driver here
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_Init(-1, 0, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
}

}  // namespace
}  // namespace sonivex_test
