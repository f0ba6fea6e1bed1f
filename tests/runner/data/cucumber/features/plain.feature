Feature: Plain
  Scenario: Pending
    Given the counter is 1
    When a pending step runs
    Then the counter shows 1

  Scenario: Untagged
    Given the counter is 4
    Then the counter shows 4
