/// \file
/// CGroupWalk: the one walk over a tree of groups, depth first and without recursion, so that a tree
/// nested a million levels deep costs two vectors of a million entries and no call stack.
#pragma once

#include "model/VemoGroup.h"

#include <vector>

/// Walks the groups under a root, the root included, depth first: each group is entered before its
/// child groups, which are walked in order, and, when the walk was asked for it, left after them. At
/// every step the group, its depth (the root's is 0) and the path from the root to it are known.
///
///     for (CGroupWalk walk(world); walk.Next();)
///         Visit(walk.GetGroup(), walk.GetDepth());
///
/// The tree must not change during the walk.
class CGroupWalk
{
public:
    /// bLeave: also stop when a group is left, after its children (IsEntering() tells which).
    explicit CGroupWalk(const vemoBaseGroup& root, bool bLeave = false) : m_pRoot(&root), m_bLeave(bLeave) {}

    /// Moves to the next step: false when the walk is over. The first step enters the root.
    bool Next()
    {
        if (m_bPopPending)
        {
            m_Path.pop_back();
            m_NextChild.pop_back();
            m_bPopPending = false;
        }
        if (!m_bStarted)
        {
            m_bStarted = true;
            Enter(m_pRoot);
            return true;
        }
        while (!m_Path.empty())
        {
            int& nNext = m_NextChild.back();
            if (!m_bSkipChildren && nNext < m_Path.back()->GetNumGroups())
            {
                Enter(m_Path.back()->GetGroup(nNext++));
                return true;
            }
            m_bSkipChildren = false;
            if (m_bLeave)
            {
                m_bEntering = false;
                m_bPopPending = true;
                return true;
            }
            m_Path.pop_back();
            m_NextChild.pop_back();
        }
        return false;
    }

    /// True when the step enters its group, false when it leaves it.
    bool IsEntering() const { return m_bEntering; }
    const vemoBaseGroup& GetGroup() const { return *m_Path.back(); }
    /// 0 for the root, 1 for its children, and so on.
    int GetDepth() const { return static_cast<int>(m_Path.size()) - 1; }
    /// The groups from the root down to the step's group, which is the last.
    const std::vector<const vemoBaseGroup*>& GetPath() const { return m_Path; }
    /// After entering a group: its children are not walked (it is left next).
    void SkipChildren() { m_bSkipChildren = true; }

private:
    void Enter(const vemoBaseGroup* pGroup)
    {
        m_Path.push_back(pGroup);
        m_NextChild.push_back(0);
        m_bEntering = true;
    }

    const vemoBaseGroup* m_pRoot;
    bool m_bLeave;
    std::vector<const vemoBaseGroup*> m_Path;
    std::vector<int> m_NextChild; // per group of the path, the next child to enter
    bool m_bStarted = false;
    bool m_bEntering = false;
    bool m_bSkipChildren = false;
    bool m_bPopPending = false; // the step left the last group of the path
};
