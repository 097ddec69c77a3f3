#include "windows/ComboRecipientList.h"

#include <QComboBox>

void ComboRecipientList::clear()
{
    combo->clear();
}

void ComboRecipientList::addItems(const QStringList& lines)
{
    combo->addItems(lines);
}

int ComboRecipientList::count() const
{
    return combo->count();
}

void ComboRecipientList::setCurrentIndex(int index)
{
    combo->setCurrentIndex(index);
}
