#include "EngineError.h"

EngineError::EngineError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{}

void Abort()
{
    throw EAbort();
}
