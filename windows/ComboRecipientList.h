#pragma once
// The recipient list interface over a QComboBox.

#include "app/RecipientList.h"

class QComboBox;

class ComboRecipientList : public RecipientList
{
public:
    explicit ComboRecipientList(QComboBox* combo) : combo(combo) {}
    void clear() override;
    void addItems(const QStringList& lines) override;
    int count() const override;
    void setCurrentIndex(int index) override;

private:
    QComboBox* combo;
};
