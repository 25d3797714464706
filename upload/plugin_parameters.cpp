#include "upload/plugin_parameters.h"

#include "foundation/color_text.h"
#include "foundation/string_number.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace {

using P = PluginParameters;
using T = PluginParameters::Type;

const P::Info kParameters[] = {
    {"Server", T::Text, "", &P::d_server},
    {"SessionID", T::Text, "", &P::d_sessionID},
    {"UID", T::Text, "", &P::d_uid},
    {"AuthenticationID", T::Text, "", &P::d_authenticationID},
    {"PartnerID", T::Text, "", &P::d_partnerID},
    {"PartnerSubID", T::Text, "", &P::d_partnerSubID},
    {"CampaignID", T::Text, "", &P::d_campaignID},
    {"BrowserVersion", T::Text, "", &P::d_browserVersion},
    {"ViewURL", T::Text, "", &P::d_viewURL},
    {"MaxConnections", T::Unsigned, "4", &P::d_maxConnections},
    {"AlbumName", T::Text, "", &P::d_albumName},
    {"AlbumID", T::Text, "", &P::d_albumID},
    {"Timeout", T::Unsigned, "0", &P::d_timeout},
    {"SendStats", T::Flag, "false", &P::d_sendStats},
    {"IconSize", T::Unsigned, "48", &P::d_iconSize},
    {"PageColor", T::Colour, "#ffffff", &P::d_pageColor},
    {"EdgeColor", T::Colour, "#000000", &P::d_edgeColor},
    {"DropColor", T::Colour, "#000000", &P::d_dropColor},
    {"BackgroundColor", T::Colour, "#eeeeee", &P::d_backgroundColor},
    {"ButtonColor", T::Colour, "#9999cc", &P::d_buttonColor},
    {"ButtonTextColor", T::Colour, "#ffffff", &P::d_buttonTextColor},
    {"ButtonPressedColor", T::Colour, "#666699", &P::d_buttonPressedColor},
    {"ButtonPressedTextColor", T::Colour, "#ccccff", &P::d_buttonPressedTextColor},
    {"ButtonDisabledColor", T::Colour, "#999999", &P::d_buttonDisabledColor},
    {"ButtonDisabledTextColor", T::Colour, "#cccccc", &P::d_buttonDisabledTextColor},
    {"LinkColor", T::Colour, "#0000ff", &P::d_linkColor},
    {"ALinkColor", T::Colour, "#ff00ff", &P::d_aLinkColor},
    {"OverrideUserPrefs", T::Flag, "false", &P::d_overrideUserPrefs},
    {"Paused", T::Flag, "false", &P::d_paused},
    {"UploadSpec", T::Text, "", &P::d_uploadSpec},
};
static_assert(std::size(kParameters) == 30);

// A typed integer or boolean as the text a text member would receive.
std::string TypedToText(const ParameterValue& value) {
    if (const auto* number = std::get_if<int64_t>(&value))
        return std::to_string(*number);
    return std::get<bool>(value) ? "true" : "false";
}

} // namespace

std::optional<ParameterValue> CMapParameterSource::Read(const std::string& name) const {
    auto it = m_values.find(name);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

std::span<const P::Info> PluginParameters::Table() {
    return kParameters;
}

const P::Info* PluginParameters::Find(std::string_view name) {
    for (const Info& info : kParameters) {
        if (name == info.name)
            return &info;
    }
    return nullptr;
}

void PluginParameters::Load(const IParameterSource& source) {
    for (const Info& info : kParameters) {
        if (std::optional<ParameterValue> value = source.Read(info.name))
            Apply(info, *value);
    }
}

void PluginParameters::Apply(const Info& info, const ParameterValue& value) {
    const std::string* text = std::get_if<std::string>(&value);
    if (auto member = std::get_if<std::string P::*>(&info.member)) {
        this->*(*member) = text != nullptr ? *text : TypedToText(value);
    } else if (auto member = std::get_if<uint32_t P::*>(&info.member)) {
        if (text != nullptr)
            this->*(*member) = ParameterToUnsigned(*text);
        else if (const auto* number = std::get_if<int64_t>(&value))
            this->*(*member) = static_cast<uint32_t>(*number);
        else
            this->*(*member) = std::get<bool>(value) ? 1 : 0;
    } else if (auto member = std::get_if<bool P::*>(&info.member)) {
        if (text != nullptr)
            this->*(*member) = ParameterToFlag(*text);
        else if (const auto* number = std::get_if<int64_t>(&value))
            this->*(*member) = *number != 0;
        else
            this->*(*member) = std::get<bool>(value);
    }
}

uint32_t PluginParameters::ClampMaxConnections() {
    d_maxConnections = std::clamp<uint32_t>(d_maxConnections, 1, 4);
    return d_maxConnections;
}

double PluginParameters::GetTimeoutSeconds() const {
    return d_timeout != 0 ? d_timeout * 0.001 : 60.0;
}

uint32_t ParameterToUnsigned(std::string_view text) {
    return StrToUL32(text, 10);
}

int32_t ParameterToSigned(std::string_view text) {
    return StrToL32(text, 10);
}

bool ParameterToFlag(std::string_view text) {
    for (const char* word : {"true", "True", "TRUE", "1"}) {
        if (text == word)
            return true;
    }
    for (const char* word : {"false", "False", "FALSE", "0"}) {
        if (text == word)
            return false;
    }
    return StrToL32(text, 10) != 0;
}

uint32_t ParseColor(std::string_view text) {
    return ParseColorText(text);
}
