// The converter under test, loaded from the stage as the program loads it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/modules.h"

class ConverterTest : public ::testing::Test {
protected:
    const StreamConverter& lib = converterUnderTest();

    void SetUp() override {
        ASSERT_NE(nullptr, lib.process) << "streamconv not found in the stage";
        ASSERT_NE(nullptr, lib.processMsb);
        ASSERT_NE(nullptr, lib.setHistory);
        lib.setHistory(0);
        float dummy = 0.0f;
        lib.process(nullptr, nullptr, &dummy, nullptr, 0, 0, 0);  // clean slot 0
    }

    static StreamFormat format(uint16_t tag, uint16_t channels, uint16_t bits, uint16_t blockAlign = 0) {
        StreamFormat f{};
        f.wFormatTag = tag;
        f.nChannels = channels;
        f.wBitsPerSample = bits;
        f.nBlockAlign = blockAlign ? blockAlign : static_cast<uint16_t>(channels * bits / 8);
        f.nSamplesPerSec = 44100;
        return f;
    }
    static StreamFormat pcm(uint16_t channels, uint16_t bits) { return format(kFormatPcm, channels, bits); }

    template <class T>
    static std::vector<uint8_t> bytesOf(const std::vector<T>& samples) {
        std::vector<uint8_t> bytes(samples.size() * sizeof(T));
        std::memcpy(bytes.data(), samples.data(), bytes.size());
        return bytes;
    }
    template <class T>
    static std::vector<T> samplesOf(const std::vector<uint8_t>& bytes) {
        std::vector<T> samples(bytes.size() / sizeof(T));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(T));
        return samples;
    }
    static std::vector<uint8_t> bytes24(const std::vector<int32_t>& samples) {
        std::vector<uint8_t> bytes;
        for (int32_t v : samples) {
            bytes.push_back(static_cast<uint8_t>(v));
            bytes.push_back(static_cast<uint8_t>(v >> 8));
            bytes.push_back(static_cast<uint8_t>(v >> 16));
        }
        return bytes;
    }
    static int32_t sample24(const std::vector<uint8_t>& bytes, size_t index) {
        uint32_t u = bytes[3 * index] | (bytes[3 * index + 1] << 8) | (static_cast<uint32_t>(bytes[3 * index + 2]) << 16);
        return static_cast<int32_t>(u << 8) >> 8;
    }

    // Writes floats into a device buffer of `deviceFrames` frames.
    std::vector<uint8_t> write(const StreamFormat& f, std::vector<float> left, std::vector<float>* right,
                               uint32_t deviceFrames, int32_t* result = nullptr) {
        std::vector<uint8_t> device(static_cast<size_t>(deviceFrames) * f.nBlockAlign, 0xEE);
        int32_t r = lib.process(&f, device.data(), left.data(), right ? right->data() : nullptr, deviceFrames,
                                static_cast<uint32_t>(left.size()), 1);
        if (result) *result = r;
        return device;
    }
};
