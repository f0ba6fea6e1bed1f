# A caught error, then a failed verification.
proc main {} {
    catch {error "caught on purpose"}
    test compare [expr {1 + 1}] 3 "arithmetic"
    test log "after the failure"
}
