// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace ravelin {

// The caption of every message box the program shows.
inline constexpr char16_t ApplicationTitle[] = u"Ravelin";

// A modal message box with an OK button; show() returns when the user has closed it.
class MessageBox
{
public:
    enum class Icon { None, Critical };
    virtual ~MessageBox() = default;
    virtual void show(const QString &text, Icon icon, const QString &caption) = 0;
};

} // namespace ravelin
