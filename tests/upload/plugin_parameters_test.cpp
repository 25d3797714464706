#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"

#include <gtest/gtest.h>

namespace {

PluginParameters LoadFrom(std::initializer_list<std::pair<const char*, ParameterValue>> values) {
    CMapParameterSource source;
    for (const auto& [name, value] : values)
        source.Set(name, value);
    PluginParameters parameters;
    parameters.Load(source);
    return parameters;
}

} // namespace

TEST(PluginParameters, DefaultsWhenThePageGivesNothing) {
    PluginParameters p = LoadFrom({});
    EXPECT_EQ(p.d_server, "");
    EXPECT_EQ(p.d_maxConnections, 4u);
    EXPECT_EQ(p.d_timeout, 0u);
    EXPECT_DOUBLE_EQ(p.GetTimeoutSeconds(), 60.0);
    EXPECT_FALSE(p.d_sendStats);
    EXPECT_EQ(p.d_iconSize, 48u);
    EXPECT_EQ(p.d_backgroundColor, "#eeeeee");
    EXPECT_EQ(p.d_buttonPressedTextColor, "#ccccff");
    EXPECT_EQ(p.d_aLinkColor, "#ff00ff");
    EXPECT_FALSE(p.d_overrideUserPrefs);
    EXPECT_FALSE(p.d_paused);
    // The table's defaults agree with the record's.
    for (const PluginParameters::Info& info : PluginParameters::Table()) {
        PluginParameters fromText;
        fromText.Apply(info, std::string(info.defaultText));
        if (auto m = std::get_if<std::string PluginParameters::*>(&info.member)) {
            EXPECT_EQ(fromText.*(*m), p.*(*m)) << info.name;
        } else if (auto m = std::get_if<uint32_t PluginParameters::*>(&info.member)) {
            EXPECT_EQ(fromText.*(*m), p.*(*m)) << info.name;
        } else if (auto m = std::get_if<bool PluginParameters::*>(&info.member)) {
            EXPECT_EQ(fromText.*(*m), p.*(*m)) << info.name;
        }
    }
}

TEST(PluginParameters, TableHasThirtyNamesInReadingOrder) {
    auto table = PluginParameters::Table();
    ASSERT_EQ(table.size(), 30u);
    EXPECT_STREQ(table.front().name, "Server");
    EXPECT_STREQ(table[9].name, "MaxConnections");
    EXPECT_STREQ(table.back().name, "UploadSpec");
    EXPECT_NE(PluginParameters::Find("ALinkColor"), nullptr);
    EXPECT_EQ(PluginParameters::Find("server"), nullptr); // names are case-sensitive
}

TEST(PluginParameters, NamesAreMatchedExactly) {
    PluginParameters p =
        LoadFrom({{"server", std::string("wrong.example")}, {"Server", std::string("up.example")}});
    EXPECT_EQ(p.d_server, "up.example");
}

TEST(PluginParameters, MaxConnectionsClamp) {
    struct Case {
        const char* text;
        uint32_t connections;
    } cases[] = {
        {"0", 1},                           // no threads at all would never upload
        {"10", 4},   {"3", 3}, {"none", 1}, // no digits: 0, then clamped
        {"2abc", 2},                        // leading digits count
        {"-1", 4},                          // wraps to the largest unsigned value, then clamped
    };
    for (const Case& c : cases) {
        PluginParameters p = LoadFrom({{"MaxConnections", std::string(c.text)}});
        EXPECT_EQ(p.ClampMaxConnections(), c.connections) << c.text;
        EXPECT_EQ(p.d_maxConnections, c.connections) << c.text; // written back
    }
}

TEST(PluginParameters, TimeOut) {
    EXPECT_DOUBLE_EQ(LoadFrom({{"Timeout", std::string("2500")}}).GetTimeoutSeconds(), 2.5);
    EXPECT_DOUBLE_EQ(LoadFrom({{"Timeout", std::string("0")}}).GetTimeoutSeconds(), 60.0);
    EXPECT_DOUBLE_EQ(LoadFrom({{"Timeout", std::string("1")}}).GetTimeoutSeconds(), 0.001);
}

TEST(PluginParameters, FlagConversion) {
    struct Case {
        const char* text;
        bool value;
    } cases[] = {
        {"true", true},   {"True", true},   {"TRUE", true}, {"1", true},    {"false", false},
        {"False", false}, {"FALSE", false}, {"0", false},   {"yes", false}, // not a word we know, and its
                                                                            // number is 0
        {"2", true},                                                        // a non-zero number
        {"tRUE", false}, // only the three spellings are words
        {"-7x", true},    {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParameterToFlag(c.text), c.value) << c.text;
        EXPECT_EQ(LoadFrom({{"SendStats", std::string(c.text)}}).d_sendStats, c.value) << c.text;
    }
}

TEST(PluginParameters, TypedValuesAreStoredDirectly) {
    PluginParameters p = LoadFrom({{"MaxConnections", int64_t{2}},
                                   {"SendStats", true},
                                   {"Paused", int64_t{0}},
                                   {"OverrideUserPrefs", int64_t{-1}},
                                   {"IconSize", true},
                                   {"PartnerID", int64_t{77}}});
    EXPECT_EQ(p.d_maxConnections, 2u);
    EXPECT_TRUE(p.d_sendStats);
    EXPECT_FALSE(p.d_paused);
    EXPECT_TRUE(p.d_overrideUserPrefs); // a boolean is true when non-zero
    EXPECT_EQ(p.d_iconSize, 1u);
    EXPECT_EQ(p.d_partnerID, "77");
}

TEST(PluginParameters, SignedConversion) {
    EXPECT_EQ(ParameterToSigned("-42"), -42);
    EXPECT_EQ(ParameterToSigned(" 17 apples"), 17);
    EXPECT_EQ(ParameterToSigned("x"), 0);
}

TEST(ParseColor, HexAndNames) {
    struct Case {
        const char* text;
        uint32_t rgb;
    } cases[] = {
        {"#ff0000", 0xff0000},   {"Red", 0xff0000}, // names in any case
        {"SILVER", 0xc0c0c0},    {"fuchsia", 0xff00ff},
        {"#fff", 0x000fff},                            // the short form is a number, not three doubled digits
        {"#zz0000", 0x000000},                         // no digit read
        {"#12zz", 0x000000},                           // something after the digits
        {"#", 0x000000},         {"salmon", 0x000000}, // not one of the sixteen names
        {"", 0x000000},          {"#1ff0000", 0xff0000}, // only the low 24 bits are a colour
        {"#0x00ff00", 0x00ff00},                         // strtoul's own prefix is part of the number
        {" red", 0x000000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseColor(c.text), c.rgb) << c.text;
}

TEST(UploadEndpoint, FromParametersAndForAnotherServer) {
    PluginParameters p = LoadFrom({{"Server", std::string("up.example:8080")},
                                   {"Timeout", std::string("1500")},
                                   {"SendStats", std::string("true")}});
    UploadEndpoint endpoint = UploadEndpoint::FromParameters(p, "UA/1");
    EXPECT_EQ(endpoint.GetServer(), "up.example:8080");
    EXPECT_EQ(endpoint.GetBaseURI(), "http://up.example:8080/");
    EXPECT_EQ(endpoint.GetUserAgent(), "UA/1");
    EXPECT_DOUBLE_EQ(endpoint.GetTimeout(), 1.5);
    EXPECT_TRUE(endpoint.GetSendStatistics());

    int reports = 0;
    endpoint.SetAuthorizationListener([&](bool, const CException&) { ++reports; });
    endpoint.SetListener("proxy", nullptr);

    UploadEndpoint copy = endpoint; // a copy carries all seven items
    EXPECT_TRUE(static_cast<bool>(copy.GetAuthorizationListener()));
    EXPECT_EQ(copy.GetListeners().count("proxy"), 1u);

    UploadEndpoint other = endpoint.ForServer("data.example");
    EXPECT_EQ(other.GetServer(), "data.example");
    EXPECT_EQ(other.GetBaseURI(), "http://data.example/");
    EXPECT_EQ(other.GetUserAgent(), "UA/1");
    EXPECT_DOUBLE_EQ(other.GetTimeout(), 1.5);
    EXPECT_TRUE(other.GetSendStatistics());
    EXPECT_EQ(other.GetListeners().count("proxy"), 1u);
    EXPECT_FALSE(static_cast<bool>(other.GetAuthorizationListener())); // failures there are not reported
    EXPECT_EQ(reports, 0);
}
