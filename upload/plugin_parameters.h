// The configuration that the embedding page gives the control: thirty named parameters, each with its
// conversion from text and its default, read once before the control's window exists, and the values
// derived from them (the connection count, the network time-out, the interface colours).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>

// A parameter as the host hands it over: normally text, sometimes already typed.
using ParameterValue = std::variant<std::string, int64_t, bool>;

// Any source of name/value pairs: the page's property bag, a command line, a test's map.
class IParameterSource {
public:
    virtual ~IParameterSource() = default;
    // The value stored under exactly this name (names are case-sensitive), or nothing.
    virtual std::optional<ParameterValue> Read(const std::string& name) const = 0;
};

// A source over a map of texts; the host program's --page and --param options fill one.
class CMapParameterSource : public IParameterSource {
public:
    void Set(const std::string& name, ParameterValue value) { m_values[name] = std::move(value); }
    std::optional<ParameterValue> Read(const std::string& name) const override;

private:
    std::map<std::string, ParameterValue> m_values;
};

struct PluginParameters {
    enum class Type { Text, Unsigned, Flag, Colour };

    // One row of the parameter table, in the order in which the control reads them.
    struct Info {
        const char* name;
        Type type;
        const char* defaultText; // the default as a page would write it
        std::variant<std::string PluginParameters::*, uint32_t PluginParameters::*, bool PluginParameters::*>
            member;
    };
    static std::span<const Info> Table();
    static const Info* Find(std::string_view name);

    // Reads every parameter of the table, in order, from `source`; a parameter that the source does
    // not have keeps its current value.
    void Load(const IParameterSource& source);

    // Applies one value to the parameter it names, with the conversion rules of its type.
    void Apply(const Info& info, const ParameterValue& value);

    // The number of sender threads, 1 to 4, written back to MaxConnections.
    uint32_t ClampMaxConnections();

    // The network time-out in seconds: Timeout milliseconds, or 60 seconds when it is 0.
    double GetTimeoutSeconds() const;

    std::string d_server;
    std::string d_sessionID;
    std::string d_uid;
    std::string d_authenticationID;
    std::string d_partnerID;
    std::string d_partnerSubID;
    std::string d_campaignID;
    std::string d_browserVersion;
    std::string d_viewURL;
    uint32_t d_maxConnections = 4;
    std::string d_albumName;
    std::string d_albumID;
    uint32_t d_timeout = 0; // milliseconds; 0 = 60 seconds
    bool d_sendStats = false;
    uint32_t d_iconSize = 48;
    std::string d_pageColor = "#ffffff";
    std::string d_edgeColor = "#000000";
    std::string d_dropColor = "#000000";
    std::string d_backgroundColor = "#eeeeee";
    std::string d_buttonColor = "#9999cc";
    std::string d_buttonTextColor = "#ffffff";
    std::string d_buttonPressedColor = "#666699";
    std::string d_buttonPressedTextColor = "#ccccff";
    std::string d_buttonDisabledColor = "#999999";
    std::string d_buttonDisabledTextColor = "#cccccc";
    std::string d_linkColor = "#0000ff";
    std::string d_aLinkColor = "#ff00ff";
    bool d_overrideUserPrefs = false;
    bool d_paused = false;
    std::string d_uploadSpec;
};

// Text conversions of parameter values.
uint32_t ParameterToUnsigned(std::string_view text); // strtoul base 10
int32_t ParameterToSigned(std::string_view text);    // strtol base 10
bool ParameterToFlag(
    std::string_view text); // the words true/false (three spellings), "1", "0", else strtol != 0

// A colour parameter as 24-bit RGB (0xRRGGBB): "#" and a hexadecimal number, or one of the sixteen
// HTML colour names in any case; anything else is black.
uint32_t ParseColor(std::string_view text);
