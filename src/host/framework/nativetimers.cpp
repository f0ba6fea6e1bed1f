// StopWatch and Deadline: the timing types of the native API, and their descriptions for scripts.
#include "nativetimers.h"

#include "scriptargument.h"
#include "scriptcontext.h"

#include <QDateTime>

#include <limits>

StopWatch::StopWatch(const QString& label) : text(label)
{
    start();
}

const void* StopWatch::staticTypeId()
{
    static const char id = 0;
    return &id;
}

qint64 StopWatch::elapsed() const
{
    return accumulated + (running ? timer.elapsed() : 0);
}

void StopWatch::start()
{
    if (running)
        return;
    timer.start();
    running = true;
}

void StopWatch::stop()
{
    if (!running)
        return;
    accumulated += timer.elapsed();
    running = false;
}

void StopWatch::reset()
{
    accumulated = 0;
    running = false;
}

QString StopWatch::format(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(milliseconds % 1000, 3, 10, QLatin1Char('0'));
}

Deadline::Deadline(qint64 timeout, const QString& label) : StopWatch(label), limit(timeout) {}

const void* Deadline::staticTypeId()
{
    static const char id = 0;
    return &id;
}

qint64 Deadline::remaining() const
{
    return qMax<qint64>(0, limit - elapsed());
}

namespace
{

// The object a method or property runs on. The interpreter runs StopWatch members only on objects of
// StopWatch or a type derived from it, but a foreign back end might not: then this fails cleanly.
template <class T> T* self(ScriptContext* context)
{
    T* object = dynamic_cast<T*>(context->thisObject());
    if (!object)
        context->setError(QStringLiteral("The method needs an object of its own type"),
                          ScriptContext::PlainError);
    return object;
}

// A whole number of milliseconds, 0 or more; otherwise an error naming the caller and the value.
bool readMilliseconds(ScriptContext* context, int index, const QString& caller, qint64* out)
{
    SharedPtr<ScriptArgument> argument = context->argument(index);
    const QString text = argument ? argument->toString() : QString();
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < 0) {
        context->setError(QStringLiteral("%1: '%2' is not a number of milliseconds").arg(caller, text),
                          ScriptContext::PlainError);
        return false;
    }
    *out = value;
    return true;
}

template <class T, class F> NativeFunction member(F body)
{
    return [body](ScriptContext* context) {
        T* object = self<T>(context);
        return object && body(context, object);
    };
}

NativeProperty readOnly(const NativeFunction& getter)
{
    return NativeProperty{getter, NativeFunction()};
}

NativeScriptType stopWatchType()
{
    NativeScriptType type;
    type.constructor = [](ScriptContext* context) -> SharedPtr<NativeScriptObject> {
        if (context->argumentCount() > 1) {
            context->setError(QStringLiteral("StopWatch takes one argument at most: a label"),
                              ScriptContext::PlainError);
            return SharedPtr<NativeScriptObject>();
        }
        return SharedPtr<NativeScriptObject>(
            new StopWatch(context->argumentCount() ? context->argument(0)->toString() : QString()));
    };

    type.methods.insert(QStringLiteral("start"), {member<StopWatch>([](ScriptContext*, StopWatch* w) {
                                                      w->start();
                                                      return true;
                                                  }),
                                                  {},
                                                  {}});
    // stop and restart answer the milliseconds measured up to that moment.
    type.methods.insert(QStringLiteral("stop"), {member<StopWatch>([](ScriptContext* c, StopWatch* w) {
                                                     w->stop();
                                                     c->setResult(c->createWideIntArgument(w->elapsed()));
                                                     return true;
                                                 }),
                                                 {},
                                                 {}});
    type.methods.insert(QStringLiteral("restart"), {member<StopWatch>([](ScriptContext* c, StopWatch* w) {
                                                        const qint64 before = w->elapsed();
                                                        w->reset();
                                                        w->start();
                                                        c->setResult(c->createWideIntArgument(before));
                                                        return true;
                                                    }),
                                                    {},
                                                    {}});
    type.methods.insert(QStringLiteral("reset"), {member<StopWatch>([](ScriptContext*, StopWatch* w) {
                                                      w->reset();
                                                      return true;
                                                  }),
                                                  {},
                                                  {}});

    type.properties.insert(QStringLiteral("elapsed"),
                           readOnly(member<StopWatch>([](ScriptContext* c, StopWatch* w) {
                               c->setResult(c->createWideIntArgument(w->elapsed()));
                               return true;
                           })));
    type.properties.insert(QStringLiteral("seconds"),
                           readOnly(member<StopWatch>([](ScriptContext* c, StopWatch* w) {
                               c->setResult(c->createDoubleArgument(w->elapsed() / 1000.0));
                               return true;
                           })));
    type.properties.insert(QStringLiteral("running"),
                           readOnly(member<StopWatch>([](ScriptContext* c, StopWatch* w) {
                               c->setResult(c->createBoolArgument(w->isRunning()));
                               return true;
                           })));
    type.properties.insert(QStringLiteral("label"),
                           NativeProperty{member<StopWatch>([](ScriptContext* c, StopWatch* w) {
                                              c->setResult(c->createStringArgument(w->label()));
                                              return true;
                                          }),
                                          member<StopWatch>([](ScriptContext* c, StopWatch* w) {
                                              w->setLabel(c->argument(0)->toString());
                                              return true;
                                          })});

    type.staticMethods.insert(QStringLiteral("format"),
                              {[](ScriptContext* c) {
                                   qint64 ms = 0;
                                   if (!readMilliseconds(c, 0, QStringLiteral("StopWatch format"), &ms))
                                       return false;
                                   c->setResult(c->createStringArgument(StopWatch::format(ms)));
                                   return true;
                               },
                               {QStringLiteral("milliseconds")},
                               {}});
    type.staticProperties.insert(QStringLiteral("now"), readOnly([](ScriptContext* c) {
                                     c->setResult(
                                         c->createWideIntArgument(QDateTime::currentMSecsSinceEpoch()));
                                     return true;
                                 }));
    return type;
}

NativeScriptType deadlineType()
{
    NativeScriptType type;
    type.super = StopWatch::staticTypeId();
    type.constructor = [](ScriptContext* context) -> SharedPtr<NativeScriptObject> {
        if (context->argumentCount() < 1 || context->argumentCount() > 2) {
            context->setError(
                QStringLiteral("Deadline takes a timeout in milliseconds and an optional label"),
                ScriptContext::PlainError);
            return SharedPtr<NativeScriptObject>();
        }
        qint64 timeout = 0;
        if (!readMilliseconds(context, 0, QStringLiteral("Deadline"), &timeout))
            return SharedPtr<NativeScriptObject>();
        return SharedPtr<NativeScriptObject>(new Deadline(
            timeout, context->argumentCount() > 1 ? context->argument(1)->toString() : QString()));
    };

    type.methods.insert(QStringLiteral("extend"),
                        {member<Deadline>([](ScriptContext* c, Deadline* d) {
                             qint64 more = 0;
                             if (!readMilliseconds(c, 0, QStringLiteral("Deadline extend"), &more))
                                 return false;
                             d->setTimeout(qMin(d->timeout(), std::numeric_limits<qint64>::max() - more) +
                                           more);
                             c->setResult(c->createWideIntArgument(d->remaining()));
                             return true;
                         }),
                         {QStringLiteral("milliseconds")},
                         {}});

    type.properties.insert(
        QStringLiteral("timeout"),
        NativeProperty{member<Deadline>([](ScriptContext* c, Deadline* d) {
                           c->setResult(c->createWideIntArgument(d->timeout()));
                           return true;
                       }),
                       member<Deadline>([](ScriptContext* c, Deadline* d) {
                           qint64 timeout = 0;
                           if (!readMilliseconds(c, 0, QStringLiteral("Deadline timeout"), &timeout))
                               return false;
                           d->setTimeout(timeout);
                           return true;
                       })});
    type.properties.insert(QStringLiteral("remaining"),
                           readOnly(member<Deadline>([](ScriptContext* c, Deadline* d) {
                               c->setResult(c->createWideIntArgument(d->remaining()));
                               return true;
                           })));
    type.properties.insert(QStringLiteral("expired"),
                           readOnly(member<Deadline>([](ScriptContext* c, Deadline* d) {
                               c->setResult(c->createBoolArgument(d->isExpired()));
                               return true;
                           })));
    return type;
}

} // namespace

void NativeApi::registerTimerTypes(Interpreter* interpreter)
{
    // The base type first: a derived type finds its base when it is registered.
    interpreter->registerNativeType(QStringLiteral("StopWatch"), StopWatch::staticTypeId(), stopWatchType());
    interpreter->registerNativeType(QStringLiteral("Deadline"), Deadline::staticTypeId(), deadlineType());
}
