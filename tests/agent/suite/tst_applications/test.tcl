# Starting real applications: failures at start, no window, environment and directory, several at once.
proc main {} {
    set app [OS getenv WIDGETSAPP]
    test compare [catch {startApplication "$app --exit 3"} message] 1
    test verify [string match "The application 'widgetsapp' ended with exit status 3 before it could be driven*" $message] $message
    # What it said last is the cause; Qt's notices around a start are left out.
    test verify [string match "*: widgetsapp: exiting with 3 as asked" $message] $message
    test verify [expr {[string first XDG_RUNTIME_DIR $message] < 0}] $message
    test compare [catch {startApplication "/no/such/program"} message] 1
    test verify [string match "Could not start '/no/such/program'*" $message] $message

    set hidden [startApplication "$app --no-window"]
    test compare [property get [waitForObjectExists {name mainWindow}] visible] 0
    test compare [catch {waitForObject {name mainWindow} 300} message] 1
    test verify [string match "*exists but is not ready*" $message] $message

    set alpha [startApplication "$app --title Alpha"]
    set beta [startApplication "$app --title Beta"]
    test compare [applicationContext $beta name] widgetsapp_3
    test compare [property get [waitForObject {name mainWindow}] windowTitle] Beta
    set betaEdit [waitForObject {name lineEdit}]
    setApplicationContext $alpha
    test compare [property get [waitForObject {name mainWindow}] windowTitle] Alpha
    typeText $betaEdit "to beta"
    test compare [property get [waitForObject {name lineEdit}] text] ""
    setApplicationContext $beta
    test compare [property get [waitForObject {name lineEdit}] text] "to beta"

    set env [startApplication "GREETING=hello --cwd=/tmp $app --print-env GREETING"]
    test compare [applicationContext $env cwd] /tmp
    test compare [applicationContext $env environmentVariable GREETING] hello
    test compare [string trim [applicationContext $env readStdout]] GREETING=hello
    test verify [expr {[applicationContext $env usedMemory] > 0}]
}
