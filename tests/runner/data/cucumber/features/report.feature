@billing
Feature: Report shapes
  What a report holds for every kind of step.

  Background: A clean counter
    Given the counter is 0

  @fast
  Scenario: Passing and failing
    A scenario may describe itself.
    When I add 2
    Then the counter shows 2
    When I add 3
    Then the counter shows 9
    And the counter shows 5

  Scenario: Undefined
    Given a step nobody wrote
    When I add 1
    Then the counter shows 0

  @outline
  Scenario Outline: Adding <n>
    When I add <n>
    Then the counter shows <total>

    @small
    Examples: Small
      | n | total |
      | 1 | 1     |
      | 2 | 2     |

    @large @slow
    Examples: Large
      | n   | total |
      | 100 | 100   |

  Scenario: Arguments
    Given the document
      """json
      {"a": 1}
      """
    And the document
      """
      plain text
      """
    And the table
      | name | value |
      | one  | 1     |
      | a\|b | 2     |
