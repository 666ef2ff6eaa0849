// Message digests of extracted bytes, fed block by block as the engine delivers them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace host {

class Digest {
public:
    virtual ~Digest() = default;
    virtual void Update(const void *data, size_t size) = 0;
    // Lower-case hex of the digest; the object is spent afterwards.
    virtual std::string Finish() = 0;
};

// "sha256" or "md5"; nullptr for any other name.
std::unique_ptr<Digest> MakeDigest(const std::string &name);

// FIPS 180-4 SHA-256.
class Sha256 : public Digest {
public:
    Sha256();
    void Update(const void *data, size_t size) override;
    std::string Finish() override;

private:
    void Block(const uint8_t *p);
    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buffer_{};
    size_t used_ = 0;
    uint64_t total_ = 0;
};

// RFC 1321 MD5.
class Md5 : public Digest {
public:
    Md5();
    void Update(const void *data, size_t size) override;
    std::string Finish() override;

private:
    void Block(const uint8_t *p);
    std::array<uint32_t, 4> h_;
    std::array<uint8_t, 64> buffer_{};
    size_t used_ = 0;
    uint64_t total_ = 0;
};

}  // namespace host
