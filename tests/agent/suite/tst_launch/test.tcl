# Applications started outside the runner with tarvinlaunch: waited for, attached to by process id and
# by name on the local socket, and over TCP with the shared secret.
proc launch {args} {
    return [exec env TARVIN_AGENT_DIR=$::agentDir QT_QPA_PLATFORM=offscreen {*}$args [OS getenv TARVINLAUNCH] {*}[lrange $::launchArgs 0 end] &]
}

proc main {} {
    set ::agentDir [file join [OS getenv TMPDIR /tmp] tarvin-agents-test-[pid]]
    OS setenv TARVIN_AGENT_DIR $::agentDir
    set app [OS getenv WIDGETSAPP]

    set ::launchArgs [list $app --title Launched]
    set pid [launch]
    set context [waitForApplicationLaunch 20]
    test compare [applicationContext $context pid] $pid
    test compare [applicationContext $context name] widgetsapp
    test compare [property get [waitForObject {name mainWindow}] windowTitle] Launched
    test compare [catch {waitForApplicationLaunch 1} message] 1
    test verify [string match "No application was launched within 1 s*" $message] $message
    test compare [format %o [expr {[file attributes $::agentDir -permissions] & 0o777}]] 700
    chooseItem {type QMenuBar} File Quit

    set ::launchArgs [list $app --title ByPid]
    set pid [launch]
    # Attached to before its agent listens, a process is only observed: wait for the agent's socket.
    for {set i 0} {$i < 200 && ![file exists [file join $::agentDir $pid.sock]]} {incr i} {
        OS sleep 0.05
    }
    set byPid [attachToApplication $pid]
    test compare [property get [waitForObject {name mainWindow}] windowTitle] ByPid
    test compare [catch {attachToApplication $pid} message] 1
    test compare $message "The process $pid is the application 'widgetsapp_2' already"
    chooseItem {type QMenuBar} File Quit

    # TCP: loopback only, and only with the secret.
    set port [expr {20000 + [pid] % 20000}]
    set ::launchArgs [list --listen $port $app --title OverTcp]
    launch TARVIN_AGENT_SECRET=open-sesame
    OS setenv TARVIN_AGENT_SECRET wrong
    OS sleep 0.5
    test compare [catch {attachToApplication widgetsapp 127.0.0.1 $port 5} message] 1
    test verify [string match "*refused the connection: Not authenticated*" $message] $message
    OS setenv TARVIN_AGENT_SECRET open-sesame
    set remote [attachToApplication widgetsapp 127.0.0.1 $port 5]
    test compare [property get [waitForObject {name mainWindow}] windowTitle] OverTcp
    test compare [applicationContext $remote port] $port
    chooseItem {type QMenuBar} File Quit
    OS unsetenv TARVIN_AGENT_SECRET
}

proc cleanup {} {
    file delete -force $::agentDir
}
