// The common part of the depacketizers: sequence check, frame assembly buffer, parameter sets
// of the session description, overflow guard and host buffer sizing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/parameter_sets.h"

namespace kestrav
{
class CRTPPacket;
class IDriver;
class IMediaParserClient;

// One parser belongs to one stream and is driven from the single thread that delivers that
// stream's packets; it takes no lock.
class CRTPMediaParser
{
public:
    // A larger frame is taken for a broken or hostile stream and dropped.
    static constexpr std::size_t kFrameBufferLimit = 10485760;

    explicit CRTPMediaParser(IDriver* driver);
    virtual ~CRTPMediaParser() = default;
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // Every packet of the stream, in arrival order. Never throws.
    virtual void ProcessPacket(const CRTPPacket& packet) = 0;
    // Drops the frame being built.
    virtual void Reset() = 0;
    // The sets of the session description; called before the stream plays.
    virtual void SetParameterSets(const ParameterSets& sets);

    // Set by the owning channel right after construction; not owned.
    void SetClient(IMediaParserClient* client) { m_client = client; }

    // The picture size last read from the stream, 0 when unknown.
    std::uint32_t GetWidth() const { return m_width; }
    std::uint32_t GetHeight() const { return m_height; }

    // The host buffer capacity asked for a frame of `size` bytes: small frames come in four
    // fixed sizes so that the host can pool its buffers.
    static std::size_t GetBufferCapacity(std::size_t size);

protected:
    // False when the packet does not follow the previous one; the first packet always does.
    bool CheckSequence(const CRTPPacket& packet);
    // False (and logged) when the frame buffer holds more than kFrameBufferLimit bytes.
    bool CheckBufferSize();
    // The payload without RTP padding; nullopt when the padding count does not fit the payload.
    static std::optional<std::span<const std::uint8_t>> GetMediaPayload(const CRTPPacket& packet);

    IDriver* GetDriver() const { return m_driver; }
    IMediaParserClient* GetClient() const { return m_client; }

    std::vector<std::uint8_t> m_frame;
    ParameterSets m_parameterSets;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;

private:
    std::uint16_t m_lastSequenceNumber = 0;
    bool m_firstPacket = true;
    IDriver* m_driver;
    IMediaParserClient* m_client = nullptr;
};
}
