#pragma once

#include <QString>
#include <QVariant>
#include <memory>

// What one kind of catalogue does for a prepared statement; `Statement` is
// the handle every caller holds.
class StatementImpl
{
public:
    virtual ~StatementImpl() = default;

    virtual void bind(int index, const QVariant &value) = 0;
    virtual int parameterIndex(const QString &name) const = 0; // 0 when the text has none
    virtual int parameterCount() const = 0;
    virtual QString parameterName(int index) const = 0;

    virtual bool step() = 0;
    virtual void reset() = 0;

    virtual int columnCount() = 0;
    virtual QString columnName(int index) = 0;
    virtual QString declaredType(int index) = 0;
    virtual QVariant value(int index) const = 0;
    virtual qint64 int64(int index) const = 0;
    virtual bool isNull(int index) const = 0;
};

// One prepared statement of the catalogue, given up when it goes out of scope
// so that nothing it holds (a read transaction, a result) outlives the work
// that needed it. Values are bound with Qt's types; integers come back as
// qint64, texts as QString, blobs as QByteArray, blanks as an invalid QVariant.
class Statement
{
public:
    Statement() = default; // a placeholder, assigned before use
    explicit Statement(std::unique_ptr<StatementImpl> impl) : m_impl(std::move(impl)) {}
    Statement(Statement &&) noexcept = default;
    Statement &operator=(Statement &&) noexcept = default;
    ~Statement() = default;

    void bind(int index, const QVariant &value) { m_impl->bind(index, value); } // 1-based
    // Binds a parameter written ":name" in the text; a name the text lacks is ignored.
    void bindNamed(const QString &name, const QVariant &value);
    int parameterCount() const { return m_impl->parameterCount(); }
    QString parameterName(int index) const { return m_impl->parameterName(index); } // no ':'

    bool step()
    {
        return m_impl->step();
    }                                 // true while a row is there; throws when the engine fails
    void reset() { m_impl->reset(); } // ready to run again, bindings cleared

    // The columns of the result; asked before the first step, they run the
    // statement with the values bound so far.
    int columnCount() const { return m_impl->columnCount(); }
    QString columnName(int index) const { return m_impl->columnName(index); }
    // The declared type of a column that comes straight from a table ("CHAR(60)", "AutoInc").
    QString declaredType(int index) const { return m_impl->declaredType(index); }
    QVariant value(int index) const { return m_impl->value(index); }
    qint64 int64(int index) const { return m_impl->int64(index); }
    bool isNull(int index) const { return m_impl->isNull(index); }

private:
    std::unique_ptr<StatementImpl> m_impl;
};
