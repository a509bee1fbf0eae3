#include "Decoded.h"

#include <mpg123.h>

#include <mutex>
#include <stdexcept>

TDecoded DecodeFile(const std::string& FileName, bool Gapless) {
    static std::once_flag Initialised;
    std::call_once(Initialised, [] { mpg123_init(); });
    mpg123_handle* Handle = mpg123_new(nullptr, nullptr);
    if (Handle == nullptr)
        throw std::runtime_error("mpg123_new failed");
    mpg123_param(Handle, Gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(Handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(Handle);
    const long* Rates = nullptr;
    size_t Count = 0;
    mpg123_rates(&Rates, &Count);
    for (size_t I = 0; I < Count; ++I)
        mpg123_format(Handle, Rates[I], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    TDecoded Out;
    if (mpg123_open(Handle, FileName.c_str()) == MPG123_OK) {
        unsigned char Buffer[65536];
        for (;;) {
            size_t Done = 0;
            const int Result = mpg123_read(Handle, Buffer, sizeof Buffer, &Done);
            const auto* Samples = reinterpret_cast<const int16_t*>(Buffer);
            Out.Samples.insert(Out.Samples.end(), Samples, Samples + Done / 2);
            if (Result == MPG123_NEW_FORMAT) {
                long Rate = 0;
                int Channels = 0, Encoding = 0;
                mpg123_getformat(Handle, &Rate, &Channels, &Encoding);
                Out.Rate = static_cast<int32_t>(Rate);
                Out.Channels = Channels;
            } else if (Result != MPG123_OK) {
                break;
            }
        }
        mpg123_close(Handle);
    }
    mpg123_delete(Handle);
    return Out;
}
