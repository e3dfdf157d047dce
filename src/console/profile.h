// The profile: an INI file named after the program ($XDG_CONFIG_HOME/kalvor-tp.ini, default
// ~/.config/kalvor-tp.ini). Read and write a string by section and key.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace kalvor {

class Profile {
public:
    virtual ~Profile() = default;
    // The value, or `fallback` when the section or key is missing.
    virtual std::string GetString(const std::string& section, const std::string& key,
                                  const std::string& fallback = "") = 0;
    // Returns false when the value could not be stored.
    virtual bool WriteString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    bool WriteInt(const std::string& section, const std::string& key, int value) {
        return WriteString(section, key, std::to_string(value));
    }
};

class IniProfile final : public Profile {
public:
    explicit IniProfile(std::string path);
    static std::string DefaultPath();

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback = "") override;
    bool WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace kalvor
