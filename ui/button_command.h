// What a button does when it is clicked: the toolkit's commands and the views' own actions take this
// shape, so that buttons need nothing of the window classes.
#pragma once

class IUIButtonCommand {
public:
    virtual ~IUIButtonCommand() = default;
    virtual bool IsEnabled() const = 0;
    // May do anything, including destroying the button that called it.
    virtual void Execute() = 0;
};
