// The inspector's events below the commands: defaults for left-out arguments, the guard against
// handlers that raise their own event, handlers ending with the application, and sendEvent without a
// valid application context.
#include "addressbook.h"
#include "application.h"
#include "bridgetestsupport.h"

using namespace bridgetest;

namespace
{

// Takes "Ping" events: remembers their arguments and raises them to the handlers.
class Pinger : public Object
{
public:
    Pinger() : Object(Inspector::self()->classByName("Pinger")) {}
    QStringList received;
    bool handleEvent(const QString& eventName, const ObjectList& args) override
    {
        if (eventName != QLatin1String("Ping"))
            return Object::handleEvent(eventName, args);
        for (const SharedPtr<Object>& a : args)
            received << a->text();
        Inspector::self()->raiseEvent(SharedPtr<Object>(this), eventName, args);
        return true;
    }
};

const Event* pingEvent()
{
    static bool declared = false;
    if (!declared) {
        declared = true;
        declareModel();
        ClassBuilder("PingBase");
        ClassBuilder("Pinger").base("PingBase");
        ClassBuilder::global().event("Ping", {"int", "string", "bool"});
    }
    return Inspector::self()->mutableGlobalClass()->event("Ping");
}

TEST(InspectorEvents, SendingFillsLeftOutArgumentsAndChecksTheObject)
{
    const Event* ping = pingEvent();
    Inspector* inspector = Inspector::self();
    SharedPtr<Pinger> pinger(new Pinger);
    ASSERT_TRUE(inspector->sendEvent(ping, pinger, {inspector->createInt(3)}));
    EXPECT_EQ(pinger->received, QStringList({"3", "", "false"}));

    const ObjectList four{inspector->createInt(1), inspector->createInt(2), inspector->createInt(3),
                          inspector->createInt(4)};
    EXPECT_FALSE(inspector->sendEvent(ping, pinger, four));
    EXPECT_EQ(inspector->lastError(), "Too many arguments for a Ping event: expected (int, string, bool)");

    SharedPtr<Object> plain = makeObject("PingBase");
    EXPECT_FALSE(inspector->sendEvent(ping, plain, {}));
    EXPECT_EQ(inspector->lastError(), "Objects of class 'PingBase' take no Ping events");
    pinger->invalidate();
    EXPECT_FALSE(inspector->sendEvent(ping, pinger, {}));
    EXPECT_TRUE(inspector->lastError().endsWith("the object no longer exists"));
}

TEST(InspectorEvents, HandlersThatRaiseTheirOwnEventStop)
{
    const Event* ping = pingEvent();
    Inspector* inspector = Inspector::self();
    SharedPtr<Pinger> pinger(new Pinger);
    QStringList calls;
    int resends = 0;
    inspector->setEventHandlerCall([&](const QString& callback, const SharedPtr<Object>& object,
                                       const QString&, const ObjectList& args) {
        calls << callback + ":" + args.value(0)->text();
        if (callback == QLatin1String("again") && ++resends < 100)
            inspector->sendEvent(ping, object, {inspector->createInt(resends)});
    });
    ASSERT_TRUE(inspector->installEventHandler("Ping", "again"));
    inspector->sendEvent(ping, pinger, {inspector->createInt(0)});
    EXPECT_EQ(calls.size(), 8); // the depth guard stops a handler that keeps raising its own event
    inspector->clearEventHandlers();
    inspector->setEventHandlerCall(Inspector::EventHandlerCall());
}

TEST(InspectorEvents, HandlersEndWithTheDemoApplication)
{
    AddressBook::registerApplication();
    ASSERT_TRUE(InProcessApplications::start("demo_addressbook"));
    Inspector* inspector = Inspector::self();
    ASSERT_TRUE(inspector->installEventHandler("QCloseEvent", "onClose"));
    ASSERT_TRUE(inspector->installTypeEventHandler("Dialog", "QCloseEvent", "onClose"));
    EXPECT_EQ(inspector->eventHandlerCount(), 2);
    InProcessApplications::stop("demo_addressbook");
    EXPECT_EQ(inspector->eventHandlerCount(), 0);
}

class SendEventContext : public BridgeTest
{
};

TEST_F(SendEventContext, NoGlobalClassMeansAnInvalidContext)
{
    pingEvent();
    Inspector::self()->setApplicationContextValid(false);
    const int rc = Tcl_EvalEx(interp, "sendEvent Ping {type Pinger} 1", -1, 0);
    Inspector::self()->setApplicationContextValid(true);
    EXPECT_EQ(rc, TCL_ERROR);
    EXPECT_EQ(result(), "Invalid application context");
}

} // namespace
