#include "http/base_camera_properties.h"

#include <algorithm>

#include "core/device_detail_texts.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
using ipcapture::IIPCapabilityResults;

// Value ids of the host's container.
constexpr std::uint32_t kValueCodecReport = 0;
constexpr std::uint32_t kValuePtz = 1;
constexpr std::uint32_t kValueInputs = 2;
constexpr std::uint32_t kValueOutputs = 3;
constexpr std::uint32_t kValueAudioInputs = 4;
constexpr std::uint32_t kValueFeatureA = 5;
constexpr std::uint32_t kValueMpeg4 = 6;
constexpr std::uint32_t kValueJpeg = 7;
constexpr std::uint32_t kValueH264 = 8;
constexpr std::uint32_t kValueFurther11 = 11;
constexpr std::uint32_t kValueFurther12 = 12;
constexpr std::uint32_t kValueSecondaryCount = 13;
constexpr std::uint32_t kValueSecondaryKind1 = 14;
constexpr std::uint32_t kValueSecondaryKind2 = 15;
constexpr std::uint32_t kValueSecondaryExtra = 17;
constexpr std::uint32_t kValueExtraStreams = 27;

constexpr std::int32_t kFrameRateList = 1;
constexpr std::int32_t kQualityList = 3;
constexpr std::uint32_t kQualityDefault = 40;

// The stream's rates are 1 up to its maximum; the readers keep that within this bound already.
constexpr std::uint32_t kHighestFrameRate = kMaxProfileFrameRate;
constexpr std::uint32_t kDefaultFrameRateCap = 15;

std::string JoinCodes(const std::vector<std::uint32_t>& codes)
{
    std::string text;
    for (const std::uint32_t code : codes)
    {
        if (!text.empty())
            text += ',';
        text += std::to_string(code);
    }
    return text;
}
}

CBaseCameraProperties::CBaseCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard)
    : m_device(device), m_videoStandard(videoStandard)
{
}

CBaseCameraProperties::~CBaseCameraProperties() = default;

void CBaseCameraProperties::Abort()
{
    m_abortEvent.Set();
    CancelRequest();
}

void CBaseCameraProperties::ApplyCapabilities(const DeviceCapabilities& capabilities)
{
    m_manufacturer = capabilities.manufacturer;
    m_modelName = capabilities.modelName;
    m_codecReportValue = 1;
    for (const auto& [index, stream] : capabilities.streams)
    {
        KindLists& kind = m_kinds[index == 1 ? kStreamKindLive : index == 2 ? kStreamKindRemote : kStreamKindMain];
        for (const CodecCapability& codec : stream.codecs)
        {
            kind.codecs.insert(codec.codecId);
            for (const auto& [name, resolution] : codec.resolutions)
            {
                if (resolution.width == 0 || resolution.height == 0 || resolution.width > 0xFFFF ||
                    resolution.height > 0xFFFF)
                    continue;
                const ResolutionEntry entry{static_cast<std::uint16_t>(resolution.width),
                                            static_cast<std::uint16_t>(resolution.height),
                                            FrameRateCode(resolution.maxFrameRate)};
                auto same = std::find_if(kind.resolutions.begin(), kind.resolutions.end(),
                                         [&](const ResolutionEntry& e)
                                         { return e.width == entry.width && e.height == entry.height; });
                if (same == kind.resolutions.end())
                    kind.resolutions.push_back(entry);
                else if (entry.frameRateCode != 0 && entry.frameRateCode < same->frameRateCode)
                    same->frameRateCode = entry.frameRateCode;
            }
        }
        const std::uint32_t highest = std::min(stream.maxFrameRate, kHighestFrameRate);
        kind.frameRates.clear();
        for (std::uint32_t rate = 1; rate <= highest; ++rate)
            kind.frameRates.insert(rate);
        kind.defaultFrameRate = std::min(highest, kDefaultFrameRateCap);
    }
    if (capabilities.streams.size() > 1)
        m_extraStreamCount = static_cast<std::uint32_t>(capabilities.streams.size() - 1);
    m_ptzSupported = capabilities.ptzPresent != 0 || capabilities.ptzSecond != 0;
    m_inputCount = capabilities.inputCount;
    m_outputCount = capabilities.outputCount;
    m_featureA = capabilities.featureFlagA;
    if (capabilities.featureFlagB)
    {
        m_secondaryFeatureKind = 1;
        m_secondaryFeatureCount = 4;
    }
}

bool CBaseCameraProperties::SaveCapabilities(IIPCapabilityResults* results)
{
    if (results == nullptr || m_modelName.empty())
        return false;
    const std::string deviceName = m_manufacturer.empty() ? m_modelName : m_manufacturer + " " + m_modelName;
    results->SetDeviceName(deviceName.c_str());

    const std::string connection[] = {m_device.address, FormatText("%hu", m_device.port), m_device.userName,
                                      m_device.password};
    for (std::int32_t index = 1; index <= 4; ++index)
    {
        if (ipcapture::IIPCapabilityItem* item = results->GetConnectionItem(index))
            item->SetText(connection[index - 1].c_str());
    }

    if (!WriteMainCodecs(*results) || !WriteMainResolutions(*results))
        return false;
    ipcapture::IIPValueList* frameRates = results->GetValueList(kFrameRateList);
    if (frameRates == nullptr || !FillFrameRates(*frameRates))
        return false;
    ipcapture::IIPValueList* qualities = results->GetValueList(kQualityList);
    if (qualities == nullptr)
        return false;
    qualities->SetDefault(kQualityDefault);
    return WriteFlagsAndTexts(*results) && ReportDeviceDetails(*results);
}

bool CBaseCameraProperties::WriteMainCodecs(IIPCapabilityResults& results)
{
    const std::set<std::uint32_t>& codecs = m_kinds[kStreamKindMain].codecs;
    const bool known = codecs.contains(kCapabilityCodecH264) || codecs.contains(kCapabilityCodecMpeg4) ||
                       codecs.contains(kCapabilityCodecJpeg);
    if (!known)
        return false;
    if (codecs.contains(kCapabilityCodecH264))
        results.SetValue(kValueH264, 1);
    if (codecs.contains(kCapabilityCodecMpeg4))
        results.SetValue(kValueMpeg4, 1);
    if (codecs.contains(kCapabilityCodecJpeg))
        results.SetValue(kValueJpeg, 1);
    if (m_codecReportValue == 0)
        return false;
    results.SetValue(kValueCodecReport, m_codecReportValue);
    return true;
}

bool CBaseCameraProperties::WriteMainResolutions(IIPCapabilityResults& results)
{
    const KindLists& main = m_kinds[kStreamKindMain];
    if (main.resolutions.empty())
        return false;
    ipcapture::IIPResolutionList* list = results.GetResolutionList();
    if (list == nullptr)
        return false;
    const std::uint32_t fallbackRate =
        !main.frameRates.empty() ? *main.frameRates.rbegin() : (m_videoStandard != 0 ? 30 : 25);
    for (const ResolutionEntry& entry : main.resolutions)
    {
        const std::string text = FormatText("%ux%u", entry.width, entry.height);
        list->Add(text.c_str(), entry.width, entry.height,
                  entry.frameRateCode != 0 ? entry.frameRateCode : FrameRateCode(fallbackRate));
    }
    return true;
}

bool CBaseCameraProperties::FillFrameRates(ipcapture::IIPValueList& list)
{
    const KindLists& main = m_kinds[kStreamKindMain];
    if (main.frameRates.empty())
        return false;
    for (const std::uint32_t rate : main.frameRates)
        list.Add(FrameRateCode(rate));
    const std::uint32_t wanted = main.defaultFrameRate != 0 ? main.defaultFrameRate : *main.frameRates.rbegin() / 2;
    if (const auto chosen = main.frameRates.lower_bound(wanted); chosen != main.frameRates.end())
        list.SetDefault(FrameRateCode(*chosen));
    return true;
}

bool CBaseCameraProperties::WriteFlagsAndTexts(IIPCapabilityResults& results)
{
    if (m_ptzSupported)
        results.SetValue(kValuePtz, 1);
    if (m_featureA)
        results.SetValue(kValueFeatureA, 1);
    results.SetValue(kValueFurther11, m_furtherFlag11 ? 1 : 0);
    results.SetValue(kValueFurther12, m_furtherFlag12 ? 1 : 0);
    if (m_inputCount != 0)
        results.SetValue(kValueInputs, m_inputCount);
    if (m_outputCount != 0)
        results.SetValue(kValueOutputs, m_outputCount);
    if (m_secondaryFeatureCount != 0 && (m_secondaryFeatureKind == 1 || m_secondaryFeatureKind == 2))
    {
        results.SetValue(kValueSecondaryCount, m_secondaryFeatureCount);
        results.SetValue(m_secondaryFeatureKind == 1 ? kValueSecondaryKind1 : kValueSecondaryKind2, 1);
        results.SetValue(kValueSecondaryExtra, 0);
    }
    if (m_audioInput.channelCount != 0)
    {
        results.SetValue(kValueAudioInputs, m_audioInput.channelCount);
        if (!WriteNamedText(results, 101, "Audio Input Parameters", m_audioInput.GetText(), kDetailIsText))
            return false;
    }
    if (m_audioOutput.channelCount != 0 &&
        !WriteNamedText(results, 102, "Audio Output Parameters", m_audioOutput.GetText(), kDetailIsText))
        return false;
    results.SetValue(kValueExtraStreams, m_extraStreamCount);
    if (m_extraStreamCount >= 1 && !WriteKindTexts(results, kStreamKindLive, 120, "Live Stream"))
        return false;
    if (m_extraStreamCount >= 2 && !WriteKindTexts(results, kStreamKindRemote, 124, "Remote Stream"))
        return false;
    return true;
}

bool CBaseCameraProperties::WriteKindTexts(IIPCapabilityResults& results, std::uint32_t kind, std::int32_t firstId,
                                           const char* label)
{
    const std::string prefix = std::string(label) + ": Supported ";
    return WriteNamedText(results, firstId, prefix + "Codecs", GetCodecsText(kind), kDetailIsText) &&
           WriteNamedText(results, firstId + 1, prefix + "Resolutions", GetResolutionsText(kind), kDetailIsText) &&
           WriteNamedText(results, firstId + 2, prefix + "Framerates", GetFrameRatesText(kind), kDetailIsText);
}

bool CBaseCameraProperties::WriteNamedText(IIPCapabilityResults& results, std::int32_t id, const std::string& name,
                                           const std::string& value, std::uint32_t flag)
{
    if (id <= 0 || name.empty())
        return true;
    ipcapture::IIPCapabilityItem* item = results.GetNamedItem(id);
    if (item == nullptr)
        return false;
    item->SetName(name.c_str());
    item->SetEditable(0);
    item->SetFlag(static_cast<std::int32_t>(flag));
    item->SetText(value.empty() ? kEmptyDetailValue : value.c_str());
    return true;
}

std::string CBaseCameraProperties::GetCodecsText(std::uint32_t kind) const
{
    std::string text;
    for (const std::uint32_t codec : m_kinds[KindIndex(kind)].codecs)
    {
        const char* word = codec == kCapabilityCodecH264    ? "h264"
                           : codec == kCapabilityCodecMpeg4 ? "mpeg"
                           : codec == kCapabilityCodecJpeg  ? "jpeg"
                                                            : nullptr;
        if (word == nullptr)
            continue;
        if (!text.empty())
            text += ',';
        text += word;
    }
    return text;
}

std::string CBaseCameraProperties::GetResolutionsText(std::uint32_t kind) const
{
    std::string text;
    for (const ResolutionEntry& entry : m_kinds[KindIndex(kind)].resolutions)
    {
        if (!text.empty())
            text += ',';
        text += FormatText("%ux%u:%u", entry.width, entry.height, entry.frameRateCode);
    }
    return text;
}

std::string CBaseCameraProperties::GetFrameRatesText(std::uint32_t kind) const
{
    const KindLists& lists = m_kinds[KindIndex(kind)];
    std::vector<std::uint32_t> codes;
    for (const std::uint32_t rate : lists.frameRates)
        codes.push_back(FrameRateCode(rate));
    return FormatText("values=%s;default=%u", JoinCodes(codes).c_str(), FrameRateCode(lists.defaultFrameRate));
}
}
