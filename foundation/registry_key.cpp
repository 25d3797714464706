#include "foundation/registry_key.h"

#include "foundation/registry_exception.h"
#include "foundation/string_format.h"
#include "foundation/string_number.h"
#include "platform/system_message.h"

#include <iterator>

namespace {

constexpr platform::RegistryHandle kRootHandles[] = {
    platform::kHKeyClassesRoot,  platform::kHKeyCurrentConfig, platform::kHKeyCurrentUser,
    platform::kHKeyLocalMachine, platform::kHKeyUsers,         platform::kHKeyPerformanceData,
    platform::kHKeyDynData,
};

// Read rights for the read-only variant; otherwise read, create-sub-key and set-value rights.
uint32_t AccessFor(CRegistryKey::Open open) {
    if (open == CRegistryKey::Open::ReadOnly)
        return platform::kKeyRead;
    return platform::kKeyRead | platform::kKeyCreateSubKey | platform::kKeySetValue;
}

std::string Normalise(std::string_view path) {
    if (!path.empty() && path.front() == '\\')
        return std::string(path);
    std::string normalised;
    normalised.reserve(path.size() + 1);
    normalised += '\\';
    normalised += path;
    return normalised;
}

// Closes a handle of ours when the scope ends, whatever way it ends.
class HandleGuard {
public:
    explicit HandleGuard(platform::RegistryHandle handle) : m_handle(handle) {}
    ~HandleGuard() { platform::CloseRegistryKey(m_handle); }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;

private:
    platform::RegistryHandle m_handle;
};

int32_t DwordOf(const std::vector<uint8_t>& data) {
    uint32_t value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    return static_cast<int32_t>(value);
}

std::string TextOf(const std::vector<uint8_t>& data) {
    std::string text(data.begin(), data.end());
    if (size_t nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return text;
}

} // namespace

CRegistryKey::CRegistryKey(int root, std::string_view path, Open open)
    : m_root(root), m_path(Normalise(path)), m_create(open == Open::Create),
      m_readOnly(open == Open::ReadOnly) {
    if (root < 0 || root >= static_cast<int>(std::size(kRootHandles))) {
        if (m_create)
            throw CRegistryKeyNotCreatedException(platform::kErrorInvalidHandle);
        throw CRegistryKeyNotFoundException(platform::kErrorInvalidHandle);
    }
    OpenPath(kRootHandles[root], m_path);
}

CRegistryKey::CRegistryKey(const CRegistryKey& parent, std::string_view path, Open open)
    : m_root(parent.m_root), m_create(open == Open::Create), m_readOnly(open == Open::ReadOnly) {
    std::string relative = Normalise(path);
    m_path = parent.m_path == "\\" ? relative : parent.m_path + relative;
    OpenPath(parent.m_handle, relative);
}

CRegistryKey::~CRegistryKey() {
    if (m_ownsHandle)
        platform::CloseRegistryKey(m_handle);
}

void CRegistryKey::OpenPath(platform::RegistryHandle from, std::string_view path) {
    std::string_view rest = path.substr(1);
    // Checked before anything is opened, so that a bad path never leaves keys half created.
    if (!rest.empty() && (rest.front() == '\\' || rest.find("\\\\") != std::string_view::npos))
        throw CRegistryBadPathException(platform::kRegdbEKeyMissing);

    uint32_t access = AccessFor(m_readOnly ? Open::ReadOnly : Open::Existing);
    platform::RegistryHandle current = from;
    bool owned = false; // the root (or the parent key) we start from is never closed here
    while (!rest.empty()) {
        size_t separator = rest.find('\\');
        std::string_view component = rest.substr(0, separator);
        platform::RegistryHandle next = 0;
        uint32_t error = m_create ? platform::CreateRegistryKey(current, component, access, &next)
                                  : platform::OpenRegistryKey(current, component, access, &next);
        if (error != platform::kErrorSuccess) {
            if (owned)
                platform::CloseRegistryKey(current);
            if (m_create)
                throw CRegistryKeyNotCreatedException(error);
            throw CRegistryKeyNotFoundException(error);
        }
        if (owned)
            platform::CloseRegistryKey(current);
        current = next;
        owned = true;
        if (separator == std::string_view::npos)
            break;
        rest.remove_prefix(separator + 1);
    }
    m_handle = current;
    m_ownsHandle = owned;
}

std::vector<uint8_t> CRegistryKey::Query(std::string_view name, uint32_t* type) const {
    // The value may grow between asking its size and reading it: ask again until it fits.
    while (true) {
        uint32_t size = 0;
        uint32_t error = platform::QueryRegistryValue(m_handle, name, type, nullptr, &size);
        if (error != platform::kErrorSuccess)
            throw CRegistryNoValueException(error);
        if (size == 0)
            return {};
        std::vector<uint8_t> data(size);
        error = platform::QueryRegistryValue(m_handle, name, type, data.data(), &size);
        if (error == platform::kErrorMoreData)
            continue;
        if (error != platform::kErrorSuccess)
            throw CRegistryNoValueException(error);
        data.resize(size);
        return data;
    }
}

std::string CRegistryKey::ReadString(std::string_view name) const {
    uint32_t type = platform::kRegNone;
    std::vector<uint8_t> data = Query(name, &type);
    switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
        return TextOf(data);
    case platform::kRegDword:
        if (data.size() == 4)
            return FormatString("%d", DwordOf(data));
        break;
    default:
        break;
    }
    throw CRegistryNoValueException(platform::kRegdbEInvalidValue);
}

int CRegistryKey::ReadInteger(std::string_view name) const {
    uint32_t type = platform::kRegNone;
    std::vector<uint8_t> data = Query(name, &type);
    switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
        return StrToL32(TextOf(data), 10);
    case platform::kRegDword:
        if (data.size() == 4)
            return DwordOf(data);
        break;
    default:
        break;
    }
    throw CRegistryNoValueException(platform::kRegdbEInvalidValue);
}

void CRegistryKey::WriteString(std::string_view name, std::string_view text) {
    std::string data(text);
    data.push_back('\0');
    uint32_t error = platform::SetRegistryValue(m_handle, name, platform::kRegSz,
                                                reinterpret_cast<const uint8_t*>(data.data()),
                                                static_cast<uint32_t>(data.size()));
    if (error != platform::kErrorSuccess)
        throw CRegistryValueNotSetException(error);
}

void CRegistryKey::WriteInteger(std::string_view name, int value) {
    uint32_t bits = static_cast<uint32_t>(value);
    const uint8_t data[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                             static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    uint32_t error = platform::SetRegistryValue(m_handle, name, platform::kRegDword, data, sizeof data);
    if (error != platform::kErrorSuccess)
        throw CRegistryValueNotSetException(error);
}

bool CRegistryKey::HasValue(std::string_view name) const {
    uint32_t error = platform::QueryRegistryValue(m_handle, name, nullptr, nullptr, nullptr);
    if (error == platform::kErrorFileNotFound)
        return false;
    if (error != platform::kErrorSuccess)
        throw CRegistryNoValueException(error);
    return true;
}

void CRegistryKey::Remove(std::string_view name) {
    // "" names the key's default value, never a subkey (it would open the key itself).
    if (!name.empty()) {
        platform::RegistryHandle subkey = 0;
        if (platform::OpenRegistryKey(m_handle, name, platform::kKeyRead, &subkey) ==
            platform::kErrorSuccess) {
            platform::CloseRegistryKey(subkey);
            // The store lets any holder delete a key; a key opened for reading must not.
            if (m_readOnly)
                throw CRegistryKeyNotRemovedException(platform::kErrorAccessDenied);
            RemoveTree(m_handle, std::string(name));
            return;
        }
    }
    RemoveValue(name);
}

void CRegistryKey::RemoveValue(std::string_view name) {
    uint32_t error = platform::DeleteRegistryValue(m_handle, name);
    if (error != platform::kErrorSuccess)
        throw CRegistryValueNotRemovedException(error);
}

// Depth first: the subkeys of `name` go before `name` itself; each key's values go with it.
void CRegistryKey::RemoveTree(platform::RegistryHandle parent, const std::string& name) {
    {
        platform::RegistryHandle key = 0;
        uint32_t error =
            platform::OpenRegistryKey(parent, name, platform::kKeyRead | platform::kKeySetValue, &key);
        if (error != platform::kErrorSuccess)
            throw CRegistryKeyNotRemovedException(error);
        HandleGuard guard(key);
        // Names are taken first: deleting while enumerating would shift the indexes.
        std::vector<std::string> children;
        for (uint32_t index = 0;; ++index) {
            std::string child;
            error = platform::EnumRegistryKey(key, index, &child);
            if (error == platform::kErrorNoMoreItems)
                break;
            if (error != platform::kErrorSuccess)
                throw CRegistryKeyNotRemovedException(error);
            children.push_back(std::move(child));
        }
        for (const std::string& child : children)
            RemoveTree(key, child);
    }
    uint32_t error = platform::DeleteRegistryKey(parent, name);
    if (error != platform::kErrorSuccess)
        throw CRegistryKeyNotRemovedException(error);
}

std::vector<std::string> CRegistryKey::GetValueNames() const {
    std::vector<std::string> names;
    for (uint32_t index = 0;; ++index) {
        std::string name;
        uint32_t error = platform::EnumRegistryValue(m_handle, index, &name);
        if (error == platform::kErrorNoMoreItems)
            return names;
        if (error != platform::kErrorSuccess)
            throw CRegistryNoValueException(error);
        names.push_back(std::move(name));
    }
}

std::vector<std::string> CRegistryKey::GetSubkeyNames() const {
    std::vector<std::string> names;
    for (uint32_t index = 0;; ++index) {
        std::string name;
        uint32_t error = platform::EnumRegistryKey(m_handle, index, &name);
        if (error == platform::kErrorNoMoreItems)
            return names;
        if (error != platform::kErrorSuccess)
            throw CRegistryKeyNotFoundException(error);
        names.push_back(std::move(name));
    }
}
