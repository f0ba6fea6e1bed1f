# A behaviour-driven test case: the runner runs this feature file with the step definitions of steps/
# and ../shared/steps (no test.tcl needed).
@addressbook
Feature: Keeping addresses
  The address book keeps a table of entries that can be added, edited and removed.

  Background:
    Given the address book is open with no entries

  Scenario: Adding one entry
    When I add the entry "Ada" "Lovelace" with e-mail ada@example.org
    Then the table has 1 row
    And the status bar says "Added Ada Lovelace"

  Scenario: Adding several entries from a table
    When I add these entries:
      | first | last     | email             |
      | Grace | Hopper   | grace@example.org |
      | Alan  | Turing   | alan@example.org  |
    Then the table has 2 rows
    And row 2 shows:
      """
      Alan
      Turing
      alan@example.org
      """

  Scenario Outline: Sample entries can be removed
    Given the sample entries are loaded
    When I remove row <row>
    Then the table has 2 rows
    And the first name in row 1 is <first>

    Examples:
      | row | first |
      | 1   | Alan  |
      | 2   | Ada   |
