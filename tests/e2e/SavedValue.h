#pragma once
// A registry value that a test changes, put back as it was found.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HandleGuard.h"

// One value under HKLM as it was found, put back exactly on destruction (deleted when it was
// absent); a key that had to be created is deleted again.
class SavedValue {
public:
    SavedValue(const wchar_t* keyPath, std::wstring name) : m_keyPath(keyPath), m_name(std::move(name)) {
        DWORD disposition = 0;
        const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, m_key.put(), &disposition);
        if (status != ERROR_SUCCESS) {
            m_key.release();
            ADD_FAILURE() << "RegCreateKeyExW failed, error " << status;
            return;
        }
        m_keyCreated = disposition == REG_CREATED_NEW_KEY;
        m_existed = Read(m_type, m_data);
    }
    ~SavedValue() {
        if (!m_key)
            return;
        if (m_existed)
            Set(m_type, m_data);
        else
            Remove();
        m_key.reset();
        if (m_keyCreated)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_keyPath);
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

    void Set(DWORD type, const std::vector<BYTE>& data) const {
        ASSERT_EQ(RegSetValueExW(m_key.get(), m_name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    void Remove() const {
        const LSTATUS status = RegDeleteValueW(m_key.get(), m_name.c_str());
        EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
    }
    bool Read(DWORD& type, std::vector<BYTE>& data) const {
        DWORD size = 0;
        if (RegQueryValueExW(m_key.get(), m_name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return false;
        data.assign(size, 0);
        return RegQueryValueExW(m_key.get(), m_name.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS &&
               (data.resize(size), true);
    }

private:
    const wchar_t* m_keyPath;
    std::wstring m_name;
    UniqueRegistryKey m_key;
    bool m_keyCreated = false;
    bool m_existed = false;
    DWORD m_type = REG_NONE;
    std::vector<BYTE> m_data;
};
