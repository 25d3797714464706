// A command of the user interface: a name and a description (texts from the string table; the
// description serves as tooltip), an enabled test, an action, and an update that writes its enabled
// and checked state into the elements bound to it. The application hands each registered command a
// numeric id, which buttons and menu items carry in their WM_COMMAND.
//
// Threads: the UI thread only.
#pragma once

#include <string>

class CUICommand {
public:
    CUICommand(std::string name, std::string description)
        : m_name(std::move(name)), m_description(std::move(description)) {}
    virtual ~CUICommand() = default;
    CUICommand(const CUICommand&) = delete;
    CUICommand& operator=(const CUICommand&) = delete;

    const std::string& GetName() const { return m_name; }
    const std::string& GetDescription() const { return m_description; }

    virtual bool IsEnabled() const { return true; }
    virtual bool IsChecked() const { return false; }
    virtual void Execute() = 0;
    // Brings the bound buttons and menu items up to date; the base binds nothing.
    virtual void Update() {}

private:
    std::string m_name;
    std::string m_description;
};
