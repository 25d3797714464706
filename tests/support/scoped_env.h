// Environment variables changed for one test and put back afterwards: a variable that was unset is
// unset again, one that had a value gets that value back. Changes are undone in reverse order, so a
// variable changed twice ends as it was before the first change.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// The variable's value; nothing when it is not set (an empty value is a value).
std::optional<std::string> GetEnv(const std::string& name);
// Sets the variable, or removes it when `value` is nothing.
void PutEnv(const std::string& name, const std::optional<std::string>& value);
// Makes the C library read TZ again after it changed.
void ReloadTimeZone();

class ScopedEnv {
public:
    ScopedEnv() = default;
    // Sets `name` to `value`, or unsets it when `value` is nothing.
    ScopedEnv(const std::string& name, const std::optional<std::string>& value) { Set(name, value); }
    ScopedEnv(const std::string& name, const char* value) { Set(name, value); }
    ~ScopedEnv() { Restore(); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const std::string& name, const std::optional<std::string>& value) {
        m_saved.emplace_back(name, GetEnv(name));
        PutEnv(name, value);
    }
    // A null `value` unsets, as a null from getenv means unset.
    void Set(const std::string& name, const char* value) {
        Set(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    void Unset(const std::string& name) { Set(name, std::nullopt); }
    // Puts back every value changed so far, now rather than at the end.
    void Restore() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            PutEnv(it->first, it->second);
        m_saved.clear();
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved; // in the order changed
};

} // namespace testsupport
