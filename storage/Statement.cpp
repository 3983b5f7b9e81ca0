#include "Statement.h"

void Statement::bindNamed(const QString &name, const QVariant &value)
{
    if (const int index = m_impl->parameterIndex(name); index > 0)
        bind(index, value);
}
