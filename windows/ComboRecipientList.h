#pragma once
// The recipient list interface over a QComboBox. Its lines are made when the box asks for
// them, from a copy of the table it was given: filling it with the largest table then costs
// no more than the copy, and the box shows only what is on screen.

#include "app/RecipientList.h"

class QComboBox;
class UserLines;

class ComboRecipientList : public RecipientList
{
public:
    explicit ComboRecipientList(QComboBox* box = nullptr);
    void showUsers(const UserTable& users) override;
    int count() const override;
    void setCurrentIndex(int index) override;

private:
    QComboBox* combo;
    UserLines* lines = nullptr; // owned by the combo box
};
