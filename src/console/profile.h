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
    // Returns false when the value could not be stored; LastError() then says why. After
    // GetString, LastError() says why a profile that exists could not be read (empty otherwise).
    virtual bool WriteString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    virtual std::string LastError() const { return {}; }
    // After a WriteString that succeeded: what of the file could not be kept as it was (its
    // group), for the Message pane; empty otherwise.
    virtual std::string LastNote() const { return {}; }
    bool WriteInt(const std::string& section, const std::string& key, int value) {
        return WriteString(section, key, std::to_string(value));
    }
};

// Writes are read-modify-write under an exclusive lock on a lock file beside the profile (the
// profile's name with ".lock"), through a temporary file of its own in the same folder that is
// written, synced and renamed over the profile; the folder is synced after. A symlinked profile
// is written at its target; mode and owner are kept (the group too, when the user may give it). A
// FIFO, a device or a file above 1 MiB is not read. A profile that exists but cannot be read is
// never written. Everything else in the file stays as it was.
class IniProfile final : public Profile {
public:
    explicit IniProfile(std::string path);
    static std::string DefaultPath();

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback = "") override;
    bool WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    std::string LastError() const override { return m_lastError; }
    std::string LastNote() const override { return m_lastNote; }
    const std::string& Path() const { return m_path; }

private:
    bool Fail(const std::string& why);

    std::string m_path;
    std::string m_lastError;
    std::string m_lastNote;
};

}  // namespace kalvor
